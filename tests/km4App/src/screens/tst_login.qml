import QtQuick
import QtTest

// The login page in the program's window: what reaches the core, and what comes back.
ScreenTestCase {
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
        tryVerify(() => appCore.qmlEnv.settingsLoaded, patience);
        part(window, "domainInput").text = data.typed;
        mouseClick(part(window, "signInButton"));
        compare(part(window, "domainInput").isError, data.marked);
        tryVerify(() => !part(window, "domainWidget").isLoading, patience);
        compare(fixture.requests(registrationPath), data.asked);
        compare(part(window, "domainWidget").statusText, data.status);
    }

    // Return pressed again while a sign-in waits starts nothing.
    function test_oneSignInAtATime() {
        const window = startWindow({}, [], registrationPath);
        part(window, "domainInput").text = "127";
        part(window, "domainInput").textField.forceActiveFocus();
        keyClick(Qt.Key_Return);
        verify(part(window, "domainWidget").isLoading);
        part(window, "authPage").forceActiveFocus();
        keyClick(Qt.Key_Return);
        keyClick(Qt.Key_Enter);
        fixture.release();
        tryVerify(() => !part(window, "domainWidget").isLoading, patience);
        compare(fixture.requests(registrationPath), 1);
    }

    // Five quick clicks on the product logo open the support panel.
    function test_secretMenuOpensThePanel() {
        const window = startWindow({});
        const logo = part(window, "productLogo");
        for (let i = 0; i < 5; ++i)
            mouseClick(logo);
        tryVerify(() => part(window, "supportDialog").opened, patience);
    }
}
