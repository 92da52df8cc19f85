#include "ui/app/WalkGuard.h"

#include <QAction>
#include <QActionGroup>
#include <QWidget>

namespace quindle {

WalkGuard::WalkGuard(QObject* parent)
    : QObject(parent), treeActions_(new QActionGroup(this)), packageActions_(new QActionGroup(this)) {
    for (QActionGroup* g : {treeActions_, packageActions_}) g->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
}

WalkGuard::~WalkGuard() {
    // An action keeps a pointer to its group: it must not outlive the group inside it.
    for (QActionGroup* g : {treeActions_, packageActions_})
        for (QAction* a : g->actions()) g->removeAction(a);
}

void WalkGuard::AddTreeCommand(QAction* action) {
    treeActions_->addAction(action);
    Apply();
}

void WalkGuard::AddTreeCommand(QWidget* control) {
    treeControls_.emplace_back(control);
    Apply();
}

void WalkGuard::AddPackageCommand(QAction* action) {
    packageActions_->addAction(action);
    Apply();
}

void WalkGuard::Apply() {
    treeActions_->setEnabled(!running_);
    packageActions_->setEnabled(running_ != Walk::Record);
    for (const QPointer<QWidget>& c : treeControls_)
        if (c) c->setEnabled(!running_);
}

WalkGuard::Hold::Hold(WalkGuard& guard, Walk kind) : guard_(guard), taken_(!guard.running_) {
    if (!taken_) return;
    guard_.running_ = kind;
    guard_.Apply();
}

WalkGuard::Hold::~Hold() {
    if (!taken_) return;
    guard_.running_.reset();
    guard_.Apply();
}

} // namespace quindle
