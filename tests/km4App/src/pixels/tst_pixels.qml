import QtQuick
import QtTest

import "../screens"

// The program's window drawn for real, page by page, under a virtual X server: the graphical
// effects draw nothing offscreen. The screenshots stay in the build folder for people to see.
ScreenTestCase {
    property var shot

    function shoot(window, file) {
        wait(400); // animations and effects settle
        shot = grabImage(window.contentItem);
        shot.save(file);
    }

    // Takes pictures of the window until the check passes on one (animations, effects and images
    // settle at the machine's pace), keeps the last for people to see, and says whether it passed.
    function shootUntil(window, file, check) {
        const deadline = Date.now() + patience;
        let passed = false;
        do {
            wait(50);
            shot = grabImage(window.contentItem);
            passed = check();
        } while (!passed && Date.now() < deadline);
        shot.save(file);
        return passed;
    }

    // The colour at a point of an item as [red, green, blue], and whether it is near another.
    function rgb(item, x, y) {
        const p = item.mapToItem(null, x, y);
        return [shot.red(p.x, p.y), shot.green(p.x, p.y), shot.blue(p.x, p.y)];
    }

    function near(item, x, y, colour, tolerance) {
        const actual = rgb(item, x, y);
        const c = Qt.color(colour);
        return [c.r, c.g, c.b].every((v, i) => Math.abs(v * 255 - actual[i]) <= tolerance);
    }

    function pixelsNear(item, colour) {
        let n = 0;
        for (let y = 0; y < item.height; ++y) {
            for (let x = 0; x < item.width; ++x)
                n += near(item, x + 0.5, y + 0.5, colour, 30);
        }
        return n;
    }

    name: "Pixels"

    function test_loginPage() {
        verify(GraphicsInfo.api !== GraphicsInfo.Software, "the graphical effects need an OpenGL scene graph");
        const window = startWindow({});
        waitForPage(window, "authPage");
        // The rounded mask draws the domain view: the sign-in button in its own blue.
        const button = part(window, "signInButton");
        verify(shootUntil(window, "screen-login.png", () => near(button, 5, button.height / 2, "#009CF3", 6)),
               String(rgb(button, 5, button.height / 2)));
    }

    function test_loadingPageBoardAndPanel() {
        const window = startWindow({ "domain": "127" }, [syncPath]);
        waitForPage(window, "loadingPage");
        shoot(window, "screen-loading.png");

        // The ready column's header in green, the newest ready number drawn larger (84 px).
        fixture.announceSyncFinished();
        waitForPage(window, "ordersPage");
        for (const [number, status] of [[17, "packaged"], [71, "packaged"], [5, "cooking"]])
            fixture.addOrder(number, status);
        const ready = part(window, "readyPanel");
        const grid = findChild(ready, "grid");
        tryCompare(grid, "count", 2, patience);
        grid.forceLayout();
        const header = findChild(ready, "header");
        let first = 0;
        let last = 0;
        const drawn = () => {
            first = pixelsNear(grid.itemAtIndex(0), "#64CC64");
            last = pixelsNear(grid.itemAtIndex(1), "#64CC64");
            return near(header, 5, header.height / 2, "#64CC64", 6) && first > 50 && last > first * 1.5;
        };
        verify(shootUntil(window, "screen-board.png", drawn),
               `${rgb(header, 5, header.height / 2)}; ${first} ${last}`);

        // The support panel stands 8 px from the right edge over the darkened board.
        const preparing = findChild(part(window, "preparingPanel"), "header");
        const before = rgb(preparing, 5, preparing.height / 2)[0];
        openPanel(window);
        const card = part(window, "supportCard");
        const darkened = () => near(card, 8, card.height / 2, "#1D1D1D", 2)
                       && rgb(preparing, 5, preparing.height / 2)[0] < before / 2;
        verify(shootUntil(window, "screen-support.png", darkened),
               `${rgb(card, 8, card.height / 2)}; ${before} -> ${rgb(preparing, 5, preparing.height / 2)}`);
        compare(card.mapToItem(null, card.width, 0).x, window.width - 8);
    }
}
