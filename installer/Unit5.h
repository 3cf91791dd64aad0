// The information-text viewer: the release's "merik.nfo", DOS box art and
// all, in a read-only text area. Not modal; its close box just hides it.
#pragma once

#include "Form.h"

#include <QPlainTextEdit>

class TForm5 : public TForm {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    // Fills the viewer from `sourceDirectory` + "merik.nfo" and shows it in
    // front; silently nothing when the file is not there. Raises the file
    // system's error when the file cannot be read (the viewer stays hidden).
    void ShowInformationText(const QString& sourceDirectory);

    QPlainTextEdit* Memo1;

protected:
    void frameKnown() override;

private:
    // The client height that gives the window, frame included, m_outerHeight.
    void fitOuterHeight();

    int m_outerHeight = 0;
};

extern TForm5* Form5;
