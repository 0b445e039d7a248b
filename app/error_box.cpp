#include "app/error_box.h"

#include "pictures/failure.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <exception>
#include <new>

QString ApplicationTitleFrom(const QString& executablePath)
{
    QString name = executablePath;
    const qsizetype slash = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    name = name.mid(slash + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString ApplicationTitle()
{
    return ApplicationTitleFrom(QCoreApplication::applicationFilePath());
}

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

void ShowErrorBox(QWidget* parent, const QString& message)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message),
                    QMessageBox::Ok, parent);
    // The message as it stands: a file name may hold markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void RunHandler(QWidget* parent, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::bad_alloc&) {
        ShowErrorBox(parent, QString::fromUtf8(pictures::kOutOfResources));
    } catch (const std::exception& e) {
        ShowErrorBox(parent, QString::fromUtf8(e.what()));
    }
}
