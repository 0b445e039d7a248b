#pragma once
// Driving modal windows from a test: the modal's own event loop runs a timer that finds it.

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <gtest/gtest.h>

namespace modal {

// Runs action on the first visible modal widget of type T once it is open. Gives up after a few
// seconds by closing whatever modal is open, so a missing window fails the test instead of
// hanging it.
template <class T>
void WhenOpen(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, started, action] {
        T* found = qobject_cast<T*>(QApplication::activeModalWidget());
        if (found && found->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(found);
            return;
        }
        if (started->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected modal window did not open";
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer->start();
}

// Makes window the active one, as a click on it would, so that a widget in it can take the focus.
// Such a click also closes an open popup: the name box's completions, which show once the
// folder has been read, whenever that is.
inline void Activate(QWidget* window)
{
    EXPECT_TRUE(QTest::qWaitFor([window] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        if (QApplication::activeWindow() != window)
            window->activateWindow();
        return QApplication::activeWindow() == window;
    })) << "active: " << (QApplication::activeWindow() ? QApplication::activeWindow()->metaObject()->className() : "none");
}

inline QLineEdit* FileNameEdit(QFileDialog* dialog)
{
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// Types a name into the file dialog and presses its accept button, as the player would.
inline void TypeAndConfirm(QFileDialog* dialog, const QString& name)
{
    QLineEdit* edit = FileNameEdit(dialog);
    ASSERT_NE(edit, nullptr);
    // Typed into the focused name box, the name also replaces the file selected in the list.
    Activate(dialog);
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, name);
    ASSERT_EQ(edit->text(), name);
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(box, nullptr);
    QPushButton* open = box->button(QDialogButtonBox::Open);
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(open->isEnabled()) << name.toStdString();
    open->click();
}

}  // namespace modal
