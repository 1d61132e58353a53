#pragma once

#include <QLineEdit>

namespace quillant::ui {

// A masked field for the API key. What is typed can be pasted in but never
// copied, cut or dragged out, and selecting it never offers it as the
// PRIMARY selection: our process owns no selection that another reader (our
// own clipboard reader included) would wait on or could read the key from.
class SecretField final : public QLineEdit {
public:
    explicit SecretField(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace quillant::ui
