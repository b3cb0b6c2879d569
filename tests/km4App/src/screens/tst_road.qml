import QtQuick
import QtQuick.Controls.Basic
import QtTest


// The window on the road from the login page to the board and back, with a real core and the
// server double behind appCore.
Item {
    id: _scene

    width: 200
    height: 200

    ScreenTestCase {
        id: _test

        function toBoard() {
            const window = startWindow({ "domain": "127" });
            waitForPage(window, "ordersPage");
            return window;
        }

        // The cells of a board column, each as its text and its pixel size.
        function numbers(panel) {
            const grid = findChild(panel, "grid");
            const result = [];
            for (let i = 0; i < grid.count; ++i) {
                const cell = grid.itemAtIndex(i);
                result.push(cell.text + "@" + cell.font.pixelSize);
            }
            return result.join(" ");
        }

        name: "Road"
        when: windowShown

        function test_window() {
            const window = startWindow({});
            compare(window.title, "Kolmira Queque V4");
            compare(window.width, 1280);
            compare(window.height, 776);
            verify(Qt.colorEqual(window.color, "#252525"));
            compare(window.font.family, "Onest");
        }

        // The stored pairing signs in once the settings are read; a blank one waits for a click.
        function test_signInAfterTheSettingsLoad_data() {
            return [
                { tag: "stored domain", stored: { "domain": "127" }, board: true },
                { tag: "nothing stored", stored: {}, board: false },
                { tag: "blank domain", stored: { "domain": "   " }, board: false },
            ];
        }

        function test_signInAfterTheSettingsLoad(data) {
            const window = startWindow(data.stored);
            tryVerify(() => appCore.qmlEnv.settingsLoaded);
            if (data.board) {
                waitForPage(window, "ordersPage");
                compare(fixture.requests(tokenPath), 1);
                compare(fixture.setting("domain"), "127");
            } else {
                wait(200);
                compare(page(window), "authPage");
                compare(fixture.requests(tokenPath), 0);
            }
        }

        function test_offlineSignInGoesStraightToTheBoard() {
            fixture.start({ "domain": "127", "last_update": fixture.recentUpdate() });
            fixture.refuse(tokenPath);
            const window = openWindow();
            waitForPage(window, "ordersPage");
            verify(!appCore.qmlEnv.isOnline);
            compare(stack(window).depth, 3);
        }

        // Ends of synchronisations that come while the board is pushed, or while it is shown,
        // change nothing.
        function test_boardIsPushedOnce() {
            fixture.start({ "domain": "127" });
            fixture.refuse(syncPath);
            const window = openWindow();
            waitForPage(window, "loadingPage");
            tryVerify(() => fixture.requests(syncPath) > 0);
            const synced = spy(part(window, "loadingPage"), "dbSynced");
            fixture.announceSyncFinished();
            fixture.announceSyncFinished();
            waitForPage(window, "ordersPage");
            fixture.announceSyncFinished();
            wait(50);
            compare(synced.count, 1);
            compare(stack(window).depth, 3);
        }

        function test_starTogglesThePanelOnEveryPage() {
            const window = toBoard();
            const dialog = part(window, "supportDialog");
            const remove = findChild(dialog.contentItem, "removeButton");
            for (const name of ["ordersPage", "loadingPage", "authPage"]) {
                if (page(window) !== name) {
                    stack(window).pop();
                    waitForPage(window, name);
                }
                keyClick("*");
                tryVerify(() => dialog.opened, 1000, name);
                compare(remove.visible, name !== "authPage", name);
                keyClick("*");
                tryVerify(() => !dialog.visible, 1000, name);
            }
            // A focused text field takes the character instead.
            const input = findChild(part(window, "domainWidget"), "domainInput");
            input.textField.forceActiveFocus();
            input.text = "";
            keyClick("*");
            compare(input.text, "*");
            verify(!dialog.visible);
        }

        function test_boardColumns() {
            const window = toBoard();
            fixture.addOrder(11, "packaged");
            fixture.addOrder(12, "cooking");
            fixture.addOrder(13, "packaged");
            fixture.addOrder(14, "packaged");
            const ready = part(window, "readyPanel");
            tryCompare(findChild(ready, "grid"), "count", 3);
            compare(numbers(ready), "11@" + s(60) + " 13@" + s(60) + " 14@" + s(84));
            compare(numbers(part(window, "preparingPanel")), "12@" + s(48));
        }

        // The countdown holds the accept button back; cancelling starts it again; the wipe
        // returns to the login page with an empty field.
        function test_wipe() {
            const window = toBoard();
            const dialog = part(window, "supportDialog");
            keyClick("*");
            tryVerify(() => dialog.opened);
            const widget = dialog.contentItem.children[0];
            mouseClick(findChild(widget, "removeButton"));
            const confirm = findChild(widget, "confirmDialog");
            tryVerify(() => confirm.opened);
            const accept = findChild(confirm.contentItem, "acceptButton");
            compare(accept.text, "Продолжить (5)");
            verify(!accept.enabled);
            tryCompare(accept, "text", "Продолжить (4)", 1500);
            mouseClick(findChild(confirm.contentItem, "rejectButton"));
            tryVerify(() => !confirm.visible);
            compare(widget.timerCount, 5);

            mouseClick(findChild(widget, "removeButton"));
            tryVerify(() => confirm.opened);
            compare(accept.text, "Продолжить (5)");
            mouseClick(accept);
            verify(confirm.opened, "not before the countdown ends");
            tryCompare(accept, "text", "Продолжить", 6000);
            verify(accept.enabled);
            mouseClick(accept);
            waitForPage(window, "authPage");
            tryVerify(() => !dialog.visible);
            compare(findChild(part(window, "domainWidget"), "domainInput").text, "");
            compare(fixture.setting("domain"), "");
        }

        // A wipe that ends while the board is being pushed still lands on the login page.
        function test_wipeDuringAPush() {
            fixture.start({ "domain": "127" });
            fixture.refuse(syncPath);
            const window = openWindow();
            waitForPage(window, "loadingPage");
            const dialog = part(window, "supportDialog");
            dialog.open();
            tryVerify(() => dialog.opened);
            const widget = dialog.contentItem.children[0];
            dialog.openAnswerDialog();
            const confirm = findChild(widget, "confirmDialog");
            tryVerify(() => confirm.opened);
            widget.timerCount = 0;
            fixture.announceSyncFinished();
            verify(stack(window).busy);
            mouseClick(findChild(confirm.contentItem, "acceptButton"));
            waitForPage(window, "authPage");
            compare(stack(window).depth, 1);
            tryVerify(() => !dialog.visible);
        }
    }
}
