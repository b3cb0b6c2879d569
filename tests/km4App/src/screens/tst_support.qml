import QtQuick
import QtTest

import "qrc:/km4App/KMUI/Features"

// The support panel's facts as the window feeds them from the core.
Item {
    id: _scene

    width: 500
    height: 700

    Component {
        id: _view

        SupportView {}
    }

    ScreenTestCase {
        name: "SupportPanel"

        function test_networksText_data() {
            return [
                { tag: "none yet", networks: undefined, text: "" },
                { tag: "two", networks: [{ "name": "eth0", "ip": "10.0.0.2", "mask": "255.255.255.0" },
                                         { "name": "wlan0", "ip": "192.168.1.5", "mask": "255.255.0.0" }],
                  text: "eth0: 10.0.0.2, 255.255.255.0\nwlan0: 192.168.1.5, 255.255.0.0\n" },
            ];
        }

        function test_networksText(data) {
            const view = createTemporaryObject(_view, _scene, { networkInfo: data.networks });
            compare(findChild(view, "networksFact").value, data.text);
        }

        function test_windowFeedsThePanel() {
            const window = startWindow({});
            const dialog = part(window, "supportDialog");
            compare(dialog.idc, String(appCore.authPage.clientId));
            compare(dialog.idq, String(appCore.authPage.queueId));
            compare(dialog.versioName, "1.0.0-9-stable");
            const networks = appCore.authPage.networkInfo;
            compare(findChild(dialog.contentItem, "networksFact").value.split("\n").length, networks.length + 1);
        }
    }
}
