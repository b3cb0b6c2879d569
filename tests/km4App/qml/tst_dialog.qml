import QtQuick
import QtQuick.Controls.Basic
import QtTest

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

Item {
    id: _scene

    width: 800
    height: 600

    Component {
        id: _dialog

        StatusDialog {}
    }

    Component {
        id: _footerHost

        Item {
            property alias footer: _footer

            width: 500
            height: 300

            DialogFooter {
                id: _footer
            }
        }
    }

    Component {
        id: _window

        ApplicationWindow {
            property alias dialog: _windowDialog

            width: 640
            height: 480

            StatusDialog {
                id: _windowDialog
            }
        }
    }

    Component {
        id: _narrowParent

        Item {
            width: DpiSettings.scaling(300)
            height: 500
        }
    }

    KitTestCase {
        name: "Dialogs"
        when: windowShown

        function openDialog(properties) {
            const dialog = createTemporaryObject(_dialog, _scene, properties);
            verify(dialog);
            dialog.open();
            tryVerify(() => dialog.opened);
            return dialog;
        }

        function part(dialog, name) {
            return findChild(dialog.contentItem, name);
        }

        function test_footerLayout() {
            const host = createTemporaryObject(_footerHost, _scene);
            const footer = host.footer;
            compare(footer.y, 300 - s(72), "at the bottom of its parent");
            const reject = findChild(footer, "rejectButton");
            const accept = findChild(footer, "acceptButton");
            compare(reject.type, "clear-white");
            compare(accept.type, "secondary");
            compare(reject.text, "Отмена");
            compare(accept.text, "Продолжить");
            compare(reject.x, s(24));
            compare(accept.width, accept.contentWidth);
            compare(accept.x, 500 - accept.width - s(24));
        }

        function test_footerSignals() {
            const footer = createTemporaryObject(_footerHost, _scene).footer;
            const accepted = spy(footer, "accepted");
            const rejected = spy(footer, "rejected");
            mouseClick(findChild(footer, "acceptButton"));
            mouseClick(findChild(footer, "rejectButton"));
            compare(accepted.count, 1);
            compare(rejected.count, 1);
            footer.enableAccept = false;
            mouseClick(findChild(footer, "acceptButton"));
            compare(accepted.count, 1, "disabled accept emits nothing");
        }

        function test_geometry() {
            const dialog = openDialog({ text: "Удалить данные?", body: "Все заказы будут удалены" });
            const overlay = dialog.parent;
            compare(overlay.width, _scene.Window.window.width);
            compare(dialog.width, Math.min(s(384), overlay.width - s(16)));
            compare(dialog.x, overlay.width / 2 - dialog.width / 2);
            compare(dialog.y, overlay.height / 2 - dialog.height / 2);
            const card = part(dialog, "card");
            const footer = part(dialog, "footer");
            tryCompare(dialog, "height", card.height + footer.height);
            compare(footer.y, card.height, "directly below the card");
            verify(dialog.modal);
            verify(dialog.dim);
            compare(dialog.closePolicy, Popup.NoAutoClose);
        }

        function test_blursTheWindowItIsIn() {
            const window = createTemporaryObject(_window, _scene);
            compare(window.dialog.backgroundItem, window.contentItem);
            compare(window.dialog.parent.width, window.width, "on the window's overlay");
            compare(window.dialog.width, s(384));
        }

        function test_narrowWindow() {
            const narrow = createTemporaryObject(_narrowParent, _scene);
            const dialog = createTemporaryObject(_dialog, _scene);
            dialog.parent = narrow;
            compare(dialog.width, s(300) - s(16));
        }

        function test_buttonsDoNotClose() {
            const dialog = openDialog({});
            const accepted = spy(dialog, "accepted");
            const rejected = spy(dialog, "rejected");
            mouseClick(part(dialog, "acceptButton"));
            mouseClick(part(dialog, "rejectButton"));
            compare(accepted.count, 1);
            compare(rejected.count, 1);
            verify(dialog.opened);
            dialog.close();
            tryVerify(() => !dialog.visible);
        }

        function test_escapeAndOutsidePressLeaveItOpen() {
            const dialog = openDialog({});
            keyClick(Qt.Key_Escape);
            mouseClick(_scene, 5, 5);
            verify(dialog.opened);
        }

        function test_statusIcon() {
            const dialog = openDialog({});
            compare(part(dialog, "statusIcon").source.toString(), "qrc:/icons/attention-green.svg");
            compare(part(dialog, "statusIcon").width, s(32));
            dialog.close();
            dialog.show("Ошибка", "Нет связи");
            verify(dialog.isError);
            compare(part(dialog, "statusIcon").source.toString(), "qrc:/icons/attention-red.svg");
            compare(part(dialog, "titleLabel").text, "Ошибка");
            compare(part(dialog, "bodyLabel").text, "Нет связи");
            dialog.show("Готово", "", false);
            compare(part(dialog, "statusIcon").source.toString(), "qrc:/icons/attention-green.svg");
        }

        function test_withoutCancel() {
            const dialog = openDialog({ visibleCancel: false });
            const accept = part(dialog, "acceptButton");
            verify(!part(dialog, "rejectButton").visible);
            compare(accept.width, dialog.width - s(48));
            compare(accept.x, s(24));
        }

        function test_disabledAccept() {
            const dialog = openDialog({ enableAccept: false, acceptText: "Удалить" });
            const accepted = spy(dialog, "accepted");
            const accept = part(dialog, "acceptButton");
            compare(accept.text, "Удалить");
            verify(!accept.enabled);
            compareColor(accept.color, Theme.colorBackgroundAdditive, "disabled look");
            mouseClick(accept);
            compare(accepted.count, 0);
        }
    }
}
