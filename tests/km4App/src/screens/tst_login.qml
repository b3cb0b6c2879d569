import QtQuick
import QtTest

// The login page in the program's window: what reaches the core, and what comes back.
Item {
    width: 200
    height: 200

    ScreenTestCase {
        function widget(window) {
            return part(window, "domainWidget");
        }

        function input(window) {
            return findChild(widget(window), "domainInput");
        }

        name: "Login"

        // A blank field is marked and reaches nothing; anything else goes out as typed, and the
        // pairing flow trims it into the one form the server sees.
        function test_signInByHand_data() {
            return [
                { tag: "blank", typed: "   ", marked: true, asked: 0, status: "" },
                { tag: "with spaces", typed: " 127 ", marked: false, asked: 1, status: "Запрос на регистрацию отправлен" },
            ];
        }

        function test_signInByHand(data) {
            const window = startWindow({});
            tryVerify(() => appCore.qmlEnv.settingsLoaded);
            input(window).text = data.typed;
            mouseClick(findChild(widget(window), "signInButton"));
            compare(input(window).isError, data.marked);
            tryVerify(() => !widget(window).isLoading, 12000);
            compare(fixture.requests(registrationPath), data.asked);
            compare(widget(window).statusText, data.status);
            compare(page(window), "authPage");
        }

        // Only the first text of a failed pairing is shown.
        function test_failedSignInShowsTheFirstText() {
            fixture.start({ "domain": "127" });
            fixture.refuse(tokenPath);
            const window = openWindow();
            tryCompare(widget(window), "statusText", "Не удалось подключиться к северу.", 10000);
            verify(findChild(widget(window), "statusLabel").visible);
            compare(widget(window).advAuthStatusText, "");
            compare(page(window), "authPage");
        }

        // Return pressed again while a sign-in waits starts nothing.
        function test_oneSignInAtATime() {
            const window = startWindow({});
            fixture.answerLater(registrationPath, 400);
            input(window).text = "127";
            input(window).textField.forceActiveFocus();
            keyClick(Qt.Key_Return);
            verify(widget(window).isLoading);
            part(window, "authPage").forceActiveFocus();
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter);
            tryVerify(() => !widget(window).isLoading, 5000);
            compare(fixture.requests(registrationPath), 1);
        }

        // The one language shows as chosen; saving it goes back.
        function test_languageView() {
            const window = startWindow({});
            const swipe = part(window, "loginSwipe");
            mouseClick(findChild(widget(window), "languageRow"));
            compare(swipe.currentIndex, 1);
            const languages = part(window, "languageWidget");
            tryCompare(swipe.contentItem, "contentX", languages.x);
            verify(findChild(languages, "languageButton").checked);
            mouseClick(findChild(languages, "saveButton"));
            compare(swipe.currentIndex, 0);
        }

        // Five quick clicks on the product logo open the support panel.
        function test_secretMenuOpensThePanel() {
            const window = startWindow({});
            const logo = part(window, "productLogo");
            for (let i = 0; i < 5; ++i)
                mouseClick(logo);
            tryVerify(() => part(window, "supportDialog").opened);
        }
    }
}
