// Seams for the window that record what would have been shown, opened or
// asked, so a test reads it instead of a person clicking OK.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>

#include "app/qt/main_window.h"

namespace ravoth::testing {

struct Recorder {
    QStringList messages;
    QStringList reasons;  // one per box that ended a run
    QStringList offeredButtons;  // the second button of each box that offered one
    bool answerAnyway = false;   // whether such a box is answered with it
    QStringList helpPagesOpened;
    QStringList helpPagesRefused;  // paths whose opening is made to fail
    QStringList helpPagesRefusedLater;  // taken, then refused once the event loop runs
    int browseCalls = 0;
    QString browseTitle;
    QString browseFilter;
    QString browseAnswer;  // what the dialog "returns"; empty: cancelled

    WindowSeams seams()
    {
        WindowSeams seams;
        seams.showMessage = [this](QWidget*, const QString& text) { messages.append(text); };
        seams.showOutcome = [this](QWidget*, const QString& text, const QString& reason) {
            messages.append(text);
            reasons.append(reason);
        };
        seams.offerGeneralReader = [this](QWidget*, const QString& text, const QString& reason,
                                          const QString& anyway) {
            messages.append(text);
            reasons.append(reason);
            offeredButtons.append(anyway);
            return answerAnyway;
        };
        seams.openHelpPage = [this](const QString& path, std::function<void()> refused) {
            if (helpPagesRefused.contains(path)) return false;
            helpPagesOpened.append(path);
            if (helpPagesRefusedLater.contains(path)) QTimer::singleShot(0, refused);
            return true;
        };
        seams.chooseFile = [this](QWidget*, const QString& title, const QString& filter) {
            ++browseCalls;
            browseTitle = title;
            browseFilter = filter;
            return browseAnswer;
        };
        return seams;
    }
};

}  // namespace ravoth::testing
