// Seams for the window that record what would have been shown, opened or
// asked, so a test reads it instead of a person clicking OK.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

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
    QStringList browseAnswers;  // the same for several files, when set
    int folderCalls = 0;
    QString folderAnswer;
    // The settings store: none until the window saves, or a test stores.
    std::optional<WindowChoices> storedChoices;
    int saves = 0;

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
        if (!browseAnswers.isEmpty()) {
            seams.chooseFiles = [this](QWidget*, const QString&, const QString&) {
                ++browseCalls;
                return browseAnswers;
            };
        }
        seams.chooseFolder = [this](QWidget*, const QString&, const QString&) {
            ++folderCalls;
            return folderAnswer;
        };
        seams.loadChoices = [this] { return storedChoices.value_or(WindowChoices{}); };
        seams.saveChoices = [this](const WindowChoices& choices) {
            storedChoices = choices;
            ++saves;
        };
        return seams;
    }
};

}  // namespace ravoth::testing
