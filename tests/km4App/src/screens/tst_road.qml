import QtQuick
import QtTest

// The window on the road from the login page to the board and back, with a real core and the
// server double behind appCore.
ScreenTestCase {
    name: "Road"

    // The stored pairing signs in once the settings are read; a blank one waits for a click. With
    // the server down, a board that synchronised lately works offline.
    function test_signInAfterTheSettingsLoad_data() {
        return [
            { tag: "stored domain", stored: { "domain": "127" }, page: "ordersPage", signsIn: true },
            { tag: "nothing stored", stored: {}, page: "authPage", signsIn: false },
            { tag: "blank domain", stored: { "domain": "   " }, page: "authPage", signsIn: false },
            { tag: "server down, synchronised lately", stored: { "domain": "127", "last_update": String(Math.floor(Date.now() / 1000)) },
              refused: [tokenPath], page: "ordersPage", signsIn: true },
        ];
    }

    function test_signInAfterTheSettingsLoad(data) {
        const window = startWindow(data.stored, data.refused);
        tryVerify(() => appCore.qmlEnv.settingsLoaded, patience);
        if (!data.signsIn) {
            wait(200);
            fixture.settle(); // a sign-in started meanwhile has reached the server
        }
        waitForPage(window, data.page);
        compare(fixture.requests(tokenPath) > 0, data.signsIn);
    }

    // Ends of synchronisations that come while the board is pushed, or while it is shown,
    // change nothing.
    function test_boardIsPushedOnce() {
        const window = startWindow({ "domain": "127" }, [syncPath]);
        waitForPage(window, "loadingPage");
        tryVerify(() => fixture.requests(syncPath) > 0, patience);
        const synced = spy(part(window, "loadingPage"), "dbSynced");
        fixture.announceSyncFinished();
        fixture.announceSyncFinished();
        waitForPage(window, "ordersPage");
        fixture.announceSyncFinished();
        wait(50);
        compare(synced.count, 1);
        compare(part(window, "pageStack").depth, 3);
    }

    // The countdown holds the accept button back and starts again after a cancel; the wipe
    // returns to the login page with an empty field. There the panel (opened with "*" on every
    // page) has no wipe, and a focused text field takes "*" instead.
    function test_wipe() {
        const window = startWindow({ "domain": "127" });
        waitForPage(window, "ordersPage");
        const widget = openPanel(window);
        compare(part(window, "supportDialog").domain, "127");
        const confirm = findChild(widget, "confirmDialog");
        const accept = findChild(confirm.contentItem, "acceptButton");
        for (const cancel of [true, false]) {
            mouseClick(findChild(widget, "removeButton"));
            // The countdown starts once the dialog has opened.
            compare(accept.text, "Продолжить (5)");
            tryVerify(() => confirm.opened, patience);
            mouseClick(accept);
            verify(confirm.opened, "not before the countdown ends");
            if (cancel) {
                tryCompare(accept, "text", "Продолжить (4)", patience);
                mouseClick(findChild(confirm.contentItem, "rejectButton"));
                tryVerify(() => !confirm.visible, patience);
            }
        }
        widget.timerCount = 0;
        tryCompare(accept, "text", "Продолжить", patience);
        mouseClick(accept);
        waitForPage(window, "authPage");
        const dialog = part(window, "supportDialog");
        tryVerify(() => !dialog.visible, patience);
        const input = findChild(part(window, "domainWidget"), "domainInput");
        compare([input.text, fixture.setting("domain")], ["", ""]);
        compare(dialog.domain, "", "the panel forgets the wiped account");

        verify(!findChild(openPanel(window), "removeButton").visible);
        const networks = appCore.authPage.networkInfo.map(n => `${n.name}: ${n.ip}, ${n.mask}\n`);
        compare(findChild(dialog.contentItem, "networksFact").value, networks.join(""));
        keyClick("*");
        tryVerify(() => !dialog.visible, patience);
        input.textField.forceActiveFocus();
        keyClick("*");
        compare(input.text, "*");
        verify(!dialog.visible);
    }

    // Each "*" turns the support panel the other way, also one that comes while the panel still
    // slides in or out, however it began to move.
    function test_starWhileThePanelSlides_data() {
        return [
            { tag: "twice", opened: false, turns: ["*", "*"], ends: false },
            { tag: "twice, from open", opened: true, turns: ["*", "*"], ends: true },
            { tag: "three times, from open", opened: true, turns: ["*", "*", "*"], ends: false },
            { tag: "after the logo's clicks", opened: false, turns: ["logo", "*"], ends: false },
            { tag: "after its own back button", opened: true, turns: ["back", "*"], ends: true },
        ];
    }

    function test_starWhileThePanelSlides(data) {
        const window = startWindow({});
        const dialog = part(window, "supportDialog");
        if (data.opened)
            openPanel(window);
        // Every slide but the last takes a minute, so each turn after the first lands in the
        // middle of the slide the one before started, however long a click takes here.
        const duration = dialog.slideDuration;
        data.turns.forEach((turn, i) => {
            dialog.slideDuration = i < data.turns.length - 1 ? 60000 : duration;
            if (i > 0)
                verify(dialog.visible && !dialog.opened, `turn ${i + 1} while the panel slides`);
            if (turn === "logo") {
                for (let click = 0; click < 5; ++click)
                    mouseClick(part(window, "productLogo"));
            } else if (turn === "back") {
                mouseClick(findChild(dialog.contentItem, "supportBackButton"));
            } else {
                keyClick(turn);
            }
        });
        if (data.ends)
            tryVerify(() => dialog.opened);
        else
            tryVerify(() => !dialog.visible);
    }

    // A synchronisation that ends while the sign-in's answer is still on its way is not waited
    // for again.
    function test_syncEndedBeforeTheLoadingPage() {
        const window = startWindow({ "domain": "127" }, [syncPath], tokenPath);
        tryVerify(() => part(window, "authPage").signingIn, patience);
        fixture.announceSyncFinished();
        fixture.release();
        waitForPage(window, "ordersPage");
    }

    // A wipe that ends while the board is being pushed still lands on the login page.
    function test_wipeDuringAPush() {
        const window = startWindow({ "domain": "127" }, [syncPath]);
        waitForPage(window, "loadingPage");
        const widget = openPanel(window);
        part(window, "supportDialog").openAnswerDialog();
        const confirm = findChild(widget, "confirmDialog");
        tryVerify(() => confirm.opened, patience);
        widget.timerCount = 0;
        fixture.announceSyncFinished();
        verify(part(window, "pageStack").busy);
        mouseClick(findChild(confirm.contentItem, "acceptButton"));
        waitForPage(window, "authPage");
        compare(part(window, "pageStack").depth, 1);
        tryVerify(() => !part(window, "supportDialog").visible, patience);
    }

    // An action the core does not know is answered with a text, not dropped.
    function test_unknownAction() {
        startWindow({});
        let answer = [];
        appCore.dispatch("Remove_db", {}, function() { answer = Array.from(arguments); });
        tryVerify(() => answer.length === 1, patience);
        compare(answer[0], "Неизвестное действие");
    }
}
