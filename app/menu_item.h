#pragma once
// A menu item: caption, radio item flag and check mark. A click never changes the check mark
// by itself; the item's handler decides.

#include <QString>
#include <functional>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QObject;

class TMenuItem {
public:
    // A top-level item of the menu bar, or an item of parent's submenu.
    TMenuItem(QMenuBar* bar, const QString& caption);
    TMenuItem(TMenuItem* parent, const QString& caption, bool radioItem = false);

    QString Caption() const { return caption_; }
    bool Checked() const { return checked_; }
    // Checking a radio item clears the check of every other radio item under the same parent.
    void SetChecked(bool checked);

    QAction* Action() const { return action_; }
    QMenu* Submenu() const { return submenu_; }
    const std::vector<TMenuItem*>& Items() const { return items_; }

    std::function<void(TMenuItem*)> OnClick;

    // Marks the access keys of this item's submenu level into the shown captions.
    void AssignKeys();
    static void AssignBarKeys(const std::vector<TMenuItem*>& barItems);

private:
    void Attach(QObject* owner);
    void SyncMark();

    QString caption_;
    bool checked_ = false;
    bool radio_ = false;
    TMenuItem* parent_ = nullptr;
    QAction* action_ = nullptr;
    QMenu* submenu_ = nullptr;
    QActionGroup* radioLook_ = nullptr;  // gives radio items their round mark
    std::vector<TMenuItem*> items_;
};
