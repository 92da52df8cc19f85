#pragma once
// WalkTicker: shows a running walk's figures (a WalkProgress) about ten times a
// second while the walk pumps events, so a long walk tells how far it has come without
// costing it a repaint per folder.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "app/AppContext.h"

namespace quindle {

class WalkTicker : public QObject {
public:
    static constexpr int kTickMs = 100;

    // `show` receives the figures at every tick; `withFiles`: the walk counts files too.
    WalkTicker(const WalkProgress& progress, bool withFiles, std::function<void(const QString&)> show);
    void Start();
    // Stops ticking; the figures are shown once more, as the walk left them.
    void Stop();
    // "1,234 folders, 56,789 files, 7.3 s" (without the files when the walk counts none;
    // "m:ss" from a minute on).
    QString Text() const;
    static QString Figures(const WalkProgress& p, bool withFiles, std::chrono::steady_clock::time_point now);

private:
    const WalkProgress& progress_;
    bool withFiles_;
    std::function<void(const QString&)> show_;
    QTimer timer_;
};

} // namespace quindle
