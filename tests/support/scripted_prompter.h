#pragma once

#include "config/prompter.h"

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace test {

struct Box
{
    QString title;
    QString text;
    QString informative = {}; // questions only
    bool operator==(const Box& o) const
    {
        return title == o.title && text == o.text && informative == o.informative;
    }
};

// Answers input requests from a script (nothing = Cancel) and records every request and box.
class ScriptedPrompter : public config::Prompter
{
public:
    std::deque<std::optional<QString>> inputs;
    std::optional<QString> browseResult;
    std::vector<config::InputRequest> requests;
    std::vector<Box> errors;

    std::optional<QString> getInput(QWidget*, const config::InputRequest& request) override
    {
        requests.push_back(request);
        if (inputs.empty())
            return std::nullopt;
        const bool cancelled = !inputs.front().has_value();
        const QString text = inputs.front().value_or(QString());
        inputs.pop_front();
        if (cancelled)
            return std::nullopt;
        return text;
    }
    void showError(QWidget*, const QString& title, const QString& text) override
    {
        errors.push_back({title, text});
    }
    std::vector<Box> notices;
    void showNotice(QWidget*, const QString& title, const QString& text) override
    {
        notices.push_back({title, text});
    }
    // Answers to Yes/No questions in order; No once they run out.
    std::deque<bool> answers;
    std::vector<Box> questions;
    std::vector<QString> questionTitles() const
    {
        std::vector<QString> titles;
        for (const Box& box : questions)
            titles.push_back(box.title);
        return titles;
    }
    // Runs while a question is open, as a user would take time to answer: a real box runs a
    // nested event loop, and so may this.
    std::function<void()> onAsk;
    // When set, the questions are put to it (the real boxes, on a desktop) instead of the script.
    std::unique_ptr<config::Prompter> boxes;
    using config::Prompter::ask;
    bool confirm(QWidget* owner, const config::Question& question) override
    {
        if (!boxes)
            return ask(owner, question);
        questions.push_back({question.title, question.text, question.informative});
        return boxes->confirm(owner, question);
    }
    bool ask(QWidget* owner, const config::Question& question) override
    {
        questions.push_back({question.title, question.text, question.informative});
        if (boxes)
            return boxes->ask(owner, question);
        if (onAsk)
            onAsk();
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    // Warnings take their answers from the same script and are recorded as questions too, and
    // apart, so that a test can tell which kind was put.
    std::vector<Box> warnings;
    bool askWarning(QWidget* owner, const QString& title, const QString& text) override
    {
        warnings.push_back({title, text});
        return ask(owner, title, text);
    }
    std::optional<QString> browseForFile(QWidget*) override { return browseResult; }
    // Answers to "Send a File" in order (nothing = Cancel); Cancel once they run out.
    std::deque<std::optional<config::FileToSend>> filesToSend;
    std::vector<QString> sendFileNicks;
    std::optional<config::FileToSend> askFileToSend(QWidget*, const QString& nick) override
    {
        sendFileNicks.push_back(nick);
        if (filesToSend.empty())
            return std::nullopt;
        const std::optional<config::FileToSend> answer = filesToSend.front();
        filesToSend.pop_front();
        return answer;
    }
};

} // namespace test
