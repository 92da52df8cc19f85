#pragma once
// WalkGuard: the one place that knows a walk is running. Every walk goes through the main
// window's directory tree and hidden file lister (Drive > Open, a memorization from the
// package dialog or from Package > "Memorize X: again") and pumps messages once per folder.
// A command run from inside that pump that reset the tree or the lister, or started another
// walk over them, would make the running walk go on over another tree: a memorization would
// then write another drive's folders, or leave out most of its own, and call itself
// complete. A command that wrote into the package would race the record being written.
//
// So every walk holds the guard until it ends, and while it is held those commands are
// disabled: their menu items show grey, and neither a click nor a shortcut runs them.
#include <QObject>
#include <QPointer>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QWidget;

namespace quindle {

class WalkGuard : public QObject {
public:
    enum class Walk {
        Browse, // Drive > Open: expands the tree, writes nothing
        Record, // a memorization: writes a disk's record and catalogue
    };

    explicit WalkGuard(QObject* parent = nullptr);
    ~WalkGuard() override;

    // Commands that use the tree or the lister, or start a walk: disabled during every walk.
    void AddTreeCommand(QAction* action);
    void AddTreeCommand(QWidget* control);
    // Commands that write into the package: disabled while a walk writes a record.
    void AddPackageCommand(QAction* action);

    bool Running() const { return running_.has_value(); }

    // Holds the guard for one walk, from construction to destruction (an exception or a
    // Stop included). False when another walk holds it already: the new walk must not run.
    class Hold {
    public:
        Hold(WalkGuard& guard, Walk kind);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        explicit operator bool() const { return taken_; }

    private:
        WalkGuard& guard_;
        bool taken_;
    };

private:
    void Apply();

    std::optional<Walk> running_;
    // A group disables its actions and, enabled again, gives each back the state it was last
    // set to: "Memorize X: again" stays disabled after a walk when no disk of the package is
    // in a drive, and the mount watch sets that state without knowing of walks.
    QActionGroup* treeActions_;
    QActionGroup* packageActions_;
    std::vector<QPointer<QWidget>> treeControls_;
};

} // namespace quindle
