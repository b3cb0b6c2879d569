import QtQuick
import QtTest

import "qrc:/km4App/KMUI/Features"

// The support panel's fact list: the networks text and the room the buttons leave.
Item {
    id: _scene

    width: 500
    height: 700

    Component {
        id: _view

        SupportView {
            width: 380
            height: 560
        }
    }

    ScreenTestCase {
        name: "SupportPanel"

        function test_networksText_data() {
            return [
                { tag: "none yet", networks: undefined, text: "" },
                { tag: "empty", networks: [], text: "" },
                { tag: "two", networks: [{ "name": "eth0", "ip": "10.0.0.2", "mask": "255.255.255.0" },
                                         { "name": "wlan0", "ip": "192.168.1.5", "mask": "255.255.0.0" }],
                  text: "eth0: 10.0.0.2, 255.255.255.0\nwlan0: 192.168.1.5, 255.255.0.0\n" },
            ];
        }

        function test_networksText(data) {
            const view = createTemporaryObject(_view, _scene, { networkInfo: data.networks });
            compare(findChild(view, "networksFact").value, data.text);
        }

        // A hidden button takes no room: the list ends 12 above whatever is shown.
        function test_listAreaLeavesRoomForTheButtons_data() {
            return [
                { tag: "both", remove: true, exit: true, buttons: s(92) },
                { tag: "quit only", remove: false, exit: true, buttons: s(40) },
                { tag: "none", remove: false, exit: false, buttons: 0 },
            ];
        }

        function test_listAreaLeavesRoomForTheButtons(data) {
            const view = createTemporaryObject(_view, _scene,
                { visibleRemoveButton: data.remove, visibleExitButton: data.exit });
            compare(findChild(view, "factList").height, view.height - data.buttons - s(12));
        }

        // The window shows the core's identifiers and networks in it.
        function test_windowFeedsThePanel() {
            const window = startWindow({});
            const dialog = part(window, "supportDialog");
            compare(dialog.idc, String(appCore.authPage.clientId));
            compare(dialog.idq, String(appCore.authPage.queueId));
            compare(dialog.versioName, "1.0.0-9-stable");
            const networks = appCore.authPage.networkInfo;
            const fact = findChild(dialog.contentItem, "networksFact");
            compare(fact.value.split("\n").length, networks.length + 1);
            if (networks.length > 0)
                compare(fact.value.split("\n")[0], `${networks[0].name}: ${networks[0].ip}, ${networks[0].mask}`);
        }
    }
}
