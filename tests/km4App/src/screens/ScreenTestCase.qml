import QtQuick
import QtTest

import km4App

// The helpers of the screens' test cases: the program's window over a freshly started core.
TestCase {
    id: _test

    readonly property string tokenPath: "/terminal/v1/oauth/token"
    readonly property string registrationPath: "/terminal/v1/registration"
    readonly property string syncPath: "/terminal/v1/sync-db"
    // How long to wait for what does happen: a busy machine may take many times what an idle one
    // takes, and every wait ends as soon as its condition holds.
    readonly property int patience: 30000

    // Starts the core over the stored settings given, with the answers to refuse (and the one
    // path whose answers wait for fixture.release()), then opens the window on top of it.
    function startWindow(stored, refused, held) {
        fixture.start(stored);
        for (const path of refused || [])
            fixture.answer(path, 500);
        if (held)
            fixture.hold(held);
        const window = createTemporaryObject(_main, _test);
        window.requestActivate();
        tryVerify(() => window.active, patience);
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

    function waitForPage(window, name) {
        tryVerify(() => page(window) === name && !part(window, "pageStack").busy, patience, name);
    }

    function spy(target, signalName) {
        return createTemporaryObject(_signalSpy, _test, { target: target, signalName: signalName });
    }

    // Opens the support panel with "*" and returns its widget.
    function openPanel(window) {
        const dialog = part(window, "supportDialog");
        keyClick("*");
        tryVerify(() => dialog.opened, patience);
        return dialog.contentItem.children[0];
    }

    when: windowShown

    Component { id: _main; Main {} }
    Component { id: _signalSpy; SignalSpy {} }
}
