#include "app/open_picture_dialog.h"

#include "app/picture_pane.h"
#include "app/scratch_settings.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLineEdit>
#include <functional>
#include <memory>

namespace picture_dialog {

std::vector<FileType> ParseFilter(const QString& filter)
{
    std::vector<FileType> types;
    const QStringList parts = filter.split(QLatin1Char('|'));
    // A description without its pattern list (an odd last part) names no files: dropped.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        FileType type;
        type.description = parts[i];
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            if (!trimmed.isEmpty())
                type.patterns.append(trimmed);
        }
        types.push_back(type);
    }
    return types;
}

QStringList QtNameFilters(const QString& filter)
{
    // QFileDialog takes the patterns from the last parentheses of a filter, separated by
    // spaces, and with HideNameFilterDetails shows only the text before them. Appending our
    // own parentheses therefore keeps a description like "ビットマップ (*.bmp)" intact and
    // gives "JPEG" its patterns without showing them.
    QStringList filters;
    for (const FileType& type : ParseFilter(filter))
        filters.append(type.description + QStringLiteral(" (") + type.patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    return filters;
}

}  // namespace picture_dialog

namespace {

using picture_dialog::PicturePane;

void SetUpFileTypes(QFileDialog& dialog, const QStringList& filters, int filterIndex)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // AnyFile lets the player confirm a typed name of a file that does not exist; reading it
    // then fails with the game's own message.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) {
        const int index = filterIndex >= 1 && filterIndex <= filters.size() ? filterIndex : 1;
        dialog.selectNameFilter(filters[index - 1]);
    }
}

// Puts the pane beside the file list and has it follow the file the dialog would open.
// Returns how to show a file in it.
std::function<void(const QString&)> AttachPane(QFileDialog& dialog)
{
    auto* pane = new PicturePane(&dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
    else if (dialog.layout())
        dialog.layout()->addWidget(pane);
    // The list's current file and its selection often change together: the pane decodes once.
    auto shown = std::make_shared<QString>();
    auto show = [pane, shown](const QString& path) {
        if (!path.isEmpty() && path == *shown)
            return;
        *shown = path;
        pane->ShowFile(path);
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, pane, show);
    // A new folder starts with nothing selected.
    QObject::connect(&dialog, &QFileDialog::directoryEntered, pane, [show] { show(QString()); });

    // While a path is typed, the file list can keep a folder it selected on the way, and 開く
    // would then open that folder instead of the file. A typed name of an existing file wins.
    auto* nameBox = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* list = dialog.findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (nameBox && list && list->selectionModel()) {
        QObject::connect(nameBox, &QLineEdit::textChanged, &dialog, [&dialog, list](const QString& text) {
            const QString typed = dialog.directory().absoluteFilePath(text);
            if (QFileInfo(typed).isFile() && dialog.selectedFiles() != QStringList{typed})
                list->selectionModel()->clearSelection();
        });
        // A typed name selects its file in the list without making it current: the pane
        // follows the selection too, so it never shows less than the list highlights.
        QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, pane, [list, show] {
            const QModelIndexList rows = list->selectionModel()->selectedRows();
            if (rows.size() == 1)
                show(rows.first().data(QFileSystemModel::FilePathRole).toString());
        });
    }
    return show;
}

// Starts on the last confirmed name in its folder, whether the file is there or not, else in
// the initial folder (relative to the current directory) when it exists, else in the current
// directory. Returns the name preselected, if any.
QString StartOnLastChoice(QFileDialog& dialog, const QString& fileName, const QString& initialDir)
{
    const QFileInfo last(fileName);
    if (!fileName.isEmpty() && last.absoluteDir().exists()) {
        dialog.setDirectory(last.absolutePath());
        dialog.selectFile(last.absoluteFilePath());
        return last.absoluteFilePath();
    }
    const QString initial = QDir::current().absoluteFilePath(initialDir);
    dialog.setDirectory(!initialDir.isEmpty() && QFileInfo(initial).isDir() ? initial : QDir::currentPath());
    return QString();
}

}  // namespace

TOpenPictureDialog::TOpenPictureDialog(QWidget* owner) : owner_(owner)
{
}

bool TOpenPictureDialog::Execute()
{
    const ScratchSettings settings;  // outlives the dialog, which writes its history when destroyed
    QFileDialog dialog(owner_);
    const QStringList filters = picture_dialog::QtNameFilters(Filter);
    SetUpFileTypes(dialog, filters, FilterIndex);
    const auto showInPane = AttachPane(dialog);
    // The file list fills in later, so the pane is told about the preselected file directly.
    showInPane(StartOnLastChoice(dialog, FileName, InitialDir));

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    KeepChoice(dialog, filters);
    return true;
}

void TOpenPictureDialog::KeepChoice(const QFileDialog& dialog, const QStringList& filters)
{
    FileName = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
    // With the details hidden, Qt 6.4 reports the chosen type by its shown description.
    const QString chosen = dialog.selectedNameFilter();
    const std::vector<picture_dialog::FileType> types = picture_dialog::ParseFilter(Filter);
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (chosen == filters[i] || chosen == types[size_t(i)].description.simplified()) {
            FilterIndex = int(i) + 1;
            break;
        }
    }
}
