#pragma once
// The picture-open dialog: Qt's own file dialog with the picture pane beside the file list.

#include <QString>
#include <QStringList>
#include <vector>

class QFileDialog;
class QWidget;

namespace picture_dialog {

// One file type of a filter written "description|patterns|description|patterns...", the
// patterns of one type separated by ";".
struct FileType {
    QString description;
    QStringList patterns;
};

std::vector<FileType> ParseFilter(const QString& filter);

// Name filters for QFileDialog, one per file type, each "description (pattern pattern ...)".
// Shown with QFileDialog::HideNameFilterDetails, the file-type box lists exactly the
// descriptions while the dialog still filters by the patterns in the last parentheses.
QStringList QtNameFilters(const QString& filter);

}  // namespace picture_dialog

class TOpenPictureDialog {
public:
    explicit TOpenPictureDialog(QWidget* owner);

    QString Filter = QStringLiteral("ビットマップ (*.bmp)|*.bmp|JPEG|*.jpg;*.jpeg|JPEG・BMP|*.bmp;*.jpeg;*.jpg");
    int FilterIndex = 3;  // 1-based
    QString InitialDir = QStringLiteral("pic");
    QString FileName;  // full name after a confirmed dialog

    // Modal; true when the player confirmed a file. A cancelled dialog changes nothing.
    bool Execute();

private:
    // Keeps the confirmed file's full name and the file type last selected.
    void KeepChoice(const QFileDialog& dialog, const QStringList& filters);

    QWidget* owner_;
};
