import QtQuick
import QtTest

// The window on the road from the login page to the board and back, with a real core and the
// server double behind appCore.
Item {
    width: 200
    height: 200

    ScreenTestCase {
        function toBoard() {
            const window = startWindow({ "domain": "127" });
            waitForPage(window, "ordersPage");
            return window;
        }

        // The cells of a board column, each as its text and its pixel size.
        function cells(panel) {
            const grid = findChild(panel, "grid");
            // Rows inserted into the model get their cells at the view's next layout.
            grid.forceLayout();
            const result = [];
            for (let i = 0; i < grid.count; ++i)
                result.push([grid.itemAtIndex(i).text, grid.itemAtIndex(i).font.pixelSize]);
            return result;
        }

        name: "Road"

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
            compare(window.title, "Kolmira Queque V4");
            tryVerify(() => appCore.qmlEnv.settingsLoaded);
            if (data.board) {
                waitForPage(window, "ordersPage");
                compare(fixture.requests(tokenPath), 1);
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

        // Ready orders in their column in order, the newest drawn larger; the rest preparing.
        function test_boardColumns() {
            const window = toBoard();
            for (const [number, status] of [[11, "packaged"], [12, "cooking"], [13, "packaged"], [14, "packaged"]])
                fixture.addOrder(number, status);
            const ready = part(window, "readyPanel");
            tryCompare(findChild(ready, "grid"), "count", 3);
            const shown = cells(ready);
            compare(shown.map(c => c[0]).join(" "), "11 13 14");
            compare(shown[0][1], shown[1][1]);
            verify(shown[2][1] > shown[1][1]);
            compare(cells(part(window, "preparingPanel")).map(c => c[0]).join(" "), "12");
        }

        // The countdown holds the accept button back and starts again after a cancel; the wipe
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
            mouseClick(accept);
            verify(confirm.opened, "not before the countdown ends");
            tryCompare(accept, "text", "Продолжить (4)", 1500);
            mouseClick(findChild(confirm.contentItem, "rejectButton"));
            tryVerify(() => !confirm.visible);
            compare(widget.timerCount, 5);

            mouseClick(findChild(widget, "removeButton"));
            tryVerify(() => confirm.opened);
            compare(accept.text, "Продолжить (5)");
            widget.timerCount = 0;
            tryCompare(accept, "text", "Продолжить");
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

        // An action the core does not know is answered with a text, not dropped.
        function test_unknownAction() {
            startWindow({});
            let answer = [];
            appCore.dispatch("Remove_db", {}, function() { answer = Array.from(arguments); });
            tryVerify(() => answer.length === 1);
            compare(answer[0], "Неизвестное действие");
        }
    }
}
