import QtQuick
import QtQuick.Controls.Basic
import QtTest

import km4App

// The window on the road from the login page to the board, with a real core and the server
// double behind appCore.
Item {
    id: _scene

    width: 200
    height: 200

    Component {
        id: _main

        Main {}
    }

    TestCase {
        id: _test

        name: "Road"
        when: windowShown

        readonly property string tokenPath: "/terminal/v1/oauth/token"
        readonly property string syncPath: "/terminal/v1/sync-db"

        function startWindow(stored) {
            fixture.start(stored);
            const window = createTemporaryObject(_main, _scene);
            verify(window);
            window.requestActivate();
            tryVerify(() => window.active);
            return window;
        }

        function part(window, name) {
            const found = findChild(window.contentItem, name) || findChild(window, name);
            verify(found, name);
            return found;
        }

        function page(window) {
            return part(window, "pageStack").currentItem.objectName;
        }

        function test_window() {
            const window = startWindow({});
            compare(window.title, "Kolmira Queque V4");
            compare(window.width, 1280);
            compare(window.height, 776);
            verify(Qt.colorEqual(window.color, "#252525"));
            compare(window.font.family, "Onest");
        }

        function test_storedDomainSignsInByItself() {
            const window = startWindow({ "domain": fixture.serverDomain() });
            tryVerify(() => page(window) === "ordersPage", 10000);
            compare(fixture.requests(tokenPath), 1);
            compare(part(window, "pageStack").depth, 3);
        }
    }
}
