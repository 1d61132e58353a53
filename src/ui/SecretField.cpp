#include "ui/SecretField.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace quillant::ui {

SecretField::SecretField(QWidget* parent) : QLineEdit(parent) {
    setEchoMode(QLineEdit::Password);
    setContextMenuPolicy(Qt::NoContextMenu);
    setDragEnabled(false);
    setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
}

void SecretField::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut)) {
        event->accept();  // swallowed: nothing leaves the field
        return;
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace quillant::ui
