#include "platform/comdlg.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace platform {

QString CommonDialog::nameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + u" ("_s + QString(parts[i + 1]).replace(u';', u' ') + u')';
    return filters.join(u";;"_s);
}

bool CommonDialog::ShowOpen(QWidget* owner) {
    // Qt's own dialog, so that it looks the same everywhere and can be driven.
    // With no title of its own the dialog says "打开" (Open), as the system's
    // File Open does on the Chinese desktop the program is written for.
    QFileDialog dialog(owner, DialogTitle.isEmpty() ? u"打开"_s : DialogTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (const QString filters = nameFilters(Filter); !filters.isEmpty())
        dialog.setNameFilters(filters.split(u";;"_s));
    if (!FileName.isEmpty()) {
        const QFileInfo previous(FileName);
        dialog.setDirectory(previous.absolutePath());
        dialog.selectFile(previous.fileName());
    }
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    return true;
}

}  // namespace platform
