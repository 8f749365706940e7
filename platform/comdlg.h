#pragma once
// The common dialog's File Open: a "description|pattern" filter, a file name
// kept from one use to the next, and a modal dialog.
#include <QString>

class QWidget;

namespace platform {

class CommonDialog {
public:
    QString Filter;
    QString FileName;
    QString DialogTitle;

    // Shows the modal File Open dialog. A confirmed choice replaces FileName
    // with the chosen full path and returns true; a cancel leaves it.
    bool ShowOpen(QWidget* owner = nullptr);

    // The filter in the dialog's own form: "desc (pattern);;...".
    static QString nameFilters(const QString& filter);
};

}  // namespace platform
