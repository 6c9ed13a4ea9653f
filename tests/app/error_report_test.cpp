#include "app/error_report.h"
#include "app/message_boxes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace vornel::app;

TEST(ErrorReportText, AddsAFullStopOnlyAfterCharactersAboveIt)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"Socket Error # 10061\r\nConnection refused", "Socket Error # 10061\r\nConnection refused."},
        {"Already ends.", "Already ends."},
        {"ends in a space ", "ends in a space "},
        {"ends in a bracket)", "ends in a bracket)"},
        {"ends in a comma,", "ends in a comma,"},
        {"ends in a slash/", "ends in a slash/."},
        {"ends in a digit 7", "ends in a digit 7."},
        {QString::fromUtf8("ends in \xE2\x96\xBA"), QString::fromUtf8("ends in \xE2\x96\xBA.")},
        {"", ""},
    };
    for (const auto& [message, text] : cases)
        EXPECT_EQ(errorReportText(message), text) << message.toStdString();
}

TEST(ErrorReport, AFailureEscapingAHandlerShowsTheReportBox)
{
    std::vector<MessageBoxRequest> boxes;
    setMessageBoxPresenter([&](const MessageBoxRequest& request) { boxes.push_back(request); });
    runGuarded([] { throw std::runtime_error("Connection refused"); });
    runGuarded([] {});
    setMessageBoxPresenter({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "VornelPlayer");
    EXPECT_EQ(boxes[0].text, "Connection refused.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
}

// While a report box is open its event loop runs handlers; their failures do not pile up
// boxes on top of it. Once it is closed, the next failure is shown again.
TEST(ErrorReport, NoBoxOpensOnTopOfAnOpenOne)
{
    std::vector<QString> shown;
    setMessageBoxPresenter([&](const MessageBoxRequest& request) {
        shown.push_back(request.text);
        runGuarded([] { throw std::runtime_error("while the box is open"); });
    });
    runGuarded([] { throw std::runtime_error("first"); });
    runGuarded([] { throw std::runtime_error("after it closed"); });
    setMessageBoxPresenter({});
    EXPECT_EQ(shown, (std::vector<QString>{"first.", "after it closed."}));
}
