#include "app/menu_item.h"

#include "app/access_keys.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

TMenuItem::TMenuItem(QMenuBar* bar, const QString& caption) : caption_(caption)
{
    submenu_ = new QMenu(caption, bar);
    action_ = bar->addMenu(submenu_);
    QObject::connect(submenu_, &QMenu::aboutToShow, submenu_, [this] { AssignKeys(); });
    Attach(bar);
}

TMenuItem::TMenuItem(TMenuItem* parent, const QString& caption, bool radioItem)
    : caption_(caption), radio_(radioItem), parent_(parent)
{
    parent->items_.push_back(this);
    if (!parent->submenu_) {
        parent->submenu_ = new QMenu(parent->caption_, qobject_cast<QWidget*>(parent->action_->parent()));
        parent->action_->setMenu(parent->submenu_);
        QObject::connect(parent->submenu_, &QMenu::aboutToShow, parent->submenu_,
                         [parent] { parent->AssignKeys(); });
    }
    action_ = new QAction(caption, parent->submenu_);
    if (radio_) {
        if (!parent->radioLook_) {
            parent->radioLook_ = new QActionGroup(parent->submenu_);
            parent->radioLook_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        }
        action_->setCheckable(true);
        parent->radioLook_->addAction(action_);
    }
    parent->submenu_->addAction(action_);
    Attach(parent->submenu_);
}

void TMenuItem::Attach(QObject* owner)
{
    QObject::connect(action_, &QAction::triggered, owner, [this] {
        // Undo the toolkit's own toggling: only the handler changes the mark.
        if (parent_)
            for (TMenuItem* sibling : parent_->items_)
                sibling->SyncMark();
        if (OnClick)
            OnClick(this);
    });
}

void TMenuItem::SyncMark()
{
    if (action_->isCheckable() && action_->isChecked() != checked_)
        action_->setChecked(checked_);
}

void TMenuItem::SetChecked(bool checked)
{
    if (checked == checked_)
        return;
    checked_ = checked;
    if (!action_->isCheckable())
        action_->setCheckable(true);
    SyncMark();
    if (checked_ && radio_ && parent_) {
        for (TMenuItem* sibling : parent_->items_)
            if (sibling != this && sibling->radio_)
                sibling->SetChecked(false);
    }
}

void TMenuItem::AssignKeys()
{
    if (!submenu_)
        return;
    QStringList shown;
    for (TMenuItem* item : items_)
        shown << item->action_->text();
    const QStringList keyed = AssignAccessKeys(shown);
    for (size_t i = 0; i < items_.size(); ++i)
        items_[i]->action_->setText(keyed[static_cast<qsizetype>(i)]);
}

void TMenuItem::AssignBarKeys(const std::vector<TMenuItem*>& barItems)
{
    QStringList shown;
    for (TMenuItem* item : barItems)
        shown << item->action_->text();
    const QStringList keyed = AssignAccessKeys(shown);
    for (size_t i = 0; i < barItems.size(); ++i) {
        barItems[i]->action_->setText(keyed[static_cast<qsizetype>(i)]);
        barItems[i]->submenu_->setTitle(keyed[static_cast<qsizetype>(i)]);
    }
}
