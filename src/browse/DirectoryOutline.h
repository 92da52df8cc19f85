#pragma once
// TDirectoryOutline: the outline specialised to the directory tree of one drive. Item 1 is
// the drive's root; a directory's subdirectories become its children the first time it is
// expanded, sorted in byte order. `Directory` follows the selection and every change of it
// also changes the program's current directory (ctx.platform).
#include <functional>
#include <string>

#include "app/AppContext.h"
#include "browse/TextCase.h"
#include "browse/Outline.h"

namespace quindle {



class TDirectoryOutline : public TCustomOutline {
public:
    // `loading`: the owner is still setting stored properties; no tree is built until
    // Loaded() is called.
    explicit TDirectoryOutline(AppContext& ctx, bool loading = false);

    char Drive() const { return drive_; }
    void SetDrive(char d);
    const std::string& Directory() const { return directory_; }
    void SetDirectory(const std::string& value);
    TTextCase TextCase() const { return textCase_; }
    void SetTextCase(TTextCase value);
    std::string ApplyCase(const std::string& s) const;

    virtual void BuildOneLevel(int n);
    virtual void BuildTree();
    virtual void BuildSubTree(int n);
    virtual void Change();
    void SelectPath(const std::string& path);
    // Clears the tree down to the drive's root, makes the root the current directory and
    // reads the drive afresh, whatever was shown before.
    void Rebuild();
    // The host folder of item n, from the names on disk of the item and its ancestors;
    // "" when the drive is unknown.
    std::string HostPath(int n) const;

    void Click() override;
    void Loaded() override;
    // The view's window exists: a tree without a drive takes the current directory's.
    void CreateWnd();
    bool Loading() const { return loading_; }

    std::function<void(TDirectoryOutline&)> OnChange;

protected:
    void ExpandHook(int index) override;

private:
    std::string HostPathOf(const TOutlineNode* node) const;
    std::string RootText() const;
    std::string DiskText(const TOutlineNode* node) const;
    AppContext& ctx_;
    char drive_ = 0;
    std::string directory_;
    TTextCase textCase_ = tcLowerCase;
    bool loading_;
};

} // namespace quindle
