#include "service/service_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace korvane {
namespace {

struct SwitchCase {
    const char* label;
    std::vector<const char*> arguments; // after the reserved slot
    ServiceSwitch expected;
};

TEST(ServiceSwitchTest, MatchesOnlyOneWholeExactArgument) {
    const SwitchCase cases[] = {
        {"install", {"-install"}, ServiceSwitch::Install},
        {"uninstall", {"-uninstall"}, ServiceSwitch::Uninstall},
        {"service mode", {"-run"}, ServiceSwitch::ServiceMode},
        {"no arguments", {}, ServiceSwitch::None},
        {"with a further argument", {"-install", "x"}, ServiceSwitch::None},
        {"other case", {"-Install"}, ServiceSwitch::None},
        {"prefix only", {"-inst"}, ServiceSwitch::None},
        {"longer", {"-install2"}, ServiceSwitch::None},
        {"ordinary argument", {"hello"}, ServiceSwitch::None},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<char*> slots{nullptr};
        for (const char* a : c.arguments) slots.push_back(const_cast<char*>(a));
        EXPECT_EQ(matchServiceSwitch(static_cast<int>(slots.size()), slots.data(), "-install", "-uninstall", "-run"),
                  c.expected);
    }
}

TEST(ServiceSwitchTest, EarlierSwitchWinsWhenTwoAreEqual) {
    char argument[] = "-x";
    char* slots[] = {nullptr, argument};
    EXPECT_EQ(matchServiceSwitch(2, slots, "-x", "-x", "-x"), ServiceSwitch::Install);
    EXPECT_EQ(matchServiceSwitch(2, slots, "-i", "-x", "-x"), ServiceSwitch::Uninstall);
}

TEST(ServiceCommandLineTest, QuotesThePathAndAppendsTheSwitch) {
    char* line = serviceCommandLine("C:\\Program Files\\App\\app.exe", "-startlauncherinservicemode");
    EXPECT_STREQ(line, "\"C:\\Program Files\\App\\app.exe\" -startlauncherinservicemode");
    std::free(line);
}

// The elements as the service control manager reads the list: up to the first empty one.
std::vector<std::string> readList(const char* list) {
    std::vector<std::string> elements;
    for (const char* at = list; *at; at += elements.back().size() + 1) elements.emplace_back(at);
    return elements;
}

TEST(ServiceDependencyListTest, SemicolonsBecomeElementsUntilTheFirstEmptyOne) {
    struct Case {
        const char* text;
        std::vector<std::string> expected;
    } const cases[] = {
        {"Tcpip", {"Tcpip"}},
        {"Tcpip;Dhcp", {"Tcpip", "Dhcp"}},
        {"Tcpip;", {"Tcpip"}},
        {";Tcpip", {}},
        {"Tcpip;;Dhcp", {"Tcpip"}},
        {" Tcpip ; Dhcp", {" Tcpip ", " Dhcp"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char* list = serviceDependencyList(c.text);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(readList(list), c.expected);
        const std::size_t length = std::string(c.text).size();
        EXPECT_EQ(list[length], '\0');
        EXPECT_EQ(list[length + 1], '\0');
        std::free(list);
    }
    EXPECT_EQ(serviceDependencyList(""), nullptr);
}

using namespace service_values;

struct Expected {
    std::uint32_t state, win32Exit, specificExit, waitHint;
};

void expectRecord(const ServiceStatusRecord& r, Expected e) {
    EXPECT_EQ(r.serviceType, ownProcess);
    EXPECT_EQ(r.currentState, e.state);
    EXPECT_EQ(r.controlsAccepted, acceptStopAndShutdown);
    EXPECT_EQ(r.win32ExitCode, e.win32Exit);
    EXPECT_EQ(r.serviceSpecificExitCode, e.specificExit);
    EXPECT_EQ(r.checkPoint, 0u);
    EXPECT_EQ(r.waitHint, e.waitHint);
}

TEST(ServiceStatusTest, RecordAtEachReport) {
    struct Case {
        const char* label;
        std::vector<StatusReport> before;
        StatusReport report;
        Expected expected;
    } const cases[] = {
        {"running", {}, StatusReport::Running, {4, 0, 0, 0}},
        {"stop pending", {StatusReport::Running}, StatusReport::StopPending, {3, 0, 0, 40000}},
        {"stopped after stop pending", {StatusReport::Running, StatusReport::StopPending}, StatusReport::Stopped,
         {1, 0, 0, 0}},
        {"stopped from running", {StatusReport::Running}, StatusReport::Stopped, {1, 0, 0, 0}},
        {"failed from running", {StatusReport::Running}, StatusReport::Failed, {1, 1066, 1013, 0}},
        {"failed after stop pending", {StatusReport::Running, StatusReport::StopPending}, StatusReport::Failed,
         {1, 1066, 1013, 0}},
        {"interrogate while pending", {StatusReport::Running, StatusReport::StopPending}, StatusReport::Unchanged,
         {3, 0, 0, 40000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ServiceStatusRecord record;
        for (StatusReport r : c.before) ASSERT_TRUE(applyStatusReport(record, r));
        EXPECT_TRUE(applyStatusReport(record, c.report));
        expectRecord(record, c.expected);
    }
}

TEST(ServiceStatusTest, NothingIsReportedAfterTheStoppedStateOrBeforeTheFirstReport) {
    struct Case {
        const char* label;
        std::vector<StatusReport> before;
        StatusReport report;
    } const cases[] = {
        {"interrogate before running", {}, StatusReport::Unchanged},
        {"stop before running", {}, StatusReport::StopPending},
        {"stopped before running", {}, StatusReport::Stopped},
        {"second stop request", {StatusReport::Running, StatusReport::StopPending}, StatusReport::StopPending},
        {"interrogate after stopped", {StatusReport::Running, StatusReport::Stopped}, StatusReport::Unchanged},
        {"stop after stopped", {StatusReport::Running, StatusReport::Stopped}, StatusReport::StopPending},
        {"stopped twice", {StatusReport::Running, StatusReport::Failed}, StatusReport::Stopped},
        {"running after stopped", {StatusReport::Running, StatusReport::Stopped}, StatusReport::Running},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ServiceStatusRecord record;
        for (StatusReport r : c.before) ASSERT_TRUE(applyStatusReport(record, r));
        const ServiceStatusRecord before = record;
        EXPECT_FALSE(applyStatusReport(record, c.report));
        EXPECT_EQ(record.currentState, before.currentState);
        EXPECT_EQ(record.win32ExitCode, before.win32ExitCode);
        EXPECT_EQ(record.waitHint, before.waitHint);
    }
}

TEST(ServiceStatusTest, StoppedBeforeStartCarriesTheSystemError) {
    const ServiceStatusRecord r = stoppedBeforeStart(1722);
    EXPECT_EQ(r.serviceType, ownProcess);
    EXPECT_EQ(r.currentState, stopped);
    EXPECT_EQ(r.controlsAccepted, 0u);
    EXPECT_EQ(r.win32ExitCode, 1722u);
    EXPECT_EQ(r.serviceSpecificExitCode, 0u);
    EXPECT_EQ(r.waitHint, 0u);
}

} // namespace
} // namespace korvane
