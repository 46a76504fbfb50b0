#pragma once
// The switch of the scheduled run that checks the due entries of the watch list. The desktop
// session's own timer runs it where there is one: TimerSwitchSystemd.cpp switches systemd's user
// timer with systemctl; a port adds a file of its own.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace app {

class TimerSwitch {
public:
    struct State {
        std::optional<bool> on; // none: it cannot be switched here
        std::string problem;    // then why not, as the system said it (may be empty)
    };
    virtual ~TimerSwitch() = default;

    virtual State read() = 0;
    // Turns it on or off; the problem when that failed, else nothing.
    virtual std::optional<std::string> turn(bool on) = 0;

    // The switch's label, why it cannot be switched here, and what to do instead: a hint and a
    // line to copy.
    virtual std::string label() const = 0;
    virtual std::string unavailableText() const = 0;
    virtual std::string fallbackHint() const = 0;
    virtual std::string fallbackLine() const = 0;
};

std::unique_ptr<TimerSwitch> MakeTimerSwitch();

// The systemd user timer that runs the due entries, and the cron line that does the same where
// there is no systemd user session (the README gives the same line).
class SystemdTimer final : public TimerSwitch {
public:
    static constexpr const char* kUnit = "quandrel-halmfang-monitor.timer";
    static constexpr const char* kCronLine =
        "17 9 * * * DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/$(id -u)/bus "
        "quandrel-halmfang ueberwachen --faellige";

    // One `systemctl` call: whether it ran to its end, its exit code and its output.
    struct CommandResult {
        bool finished = false;
        int exitCode = -1;
        QString output; // stdout
        QString error;  // stderr
    };
    // Runs systemctl with the given arguments; a process with a time-out unless a test sets a hook.
    using CommandRunner = std::function<CommandResult(const QStringList& arguments)>;
    static void setRunnerHook(CommandRunner hook);

    // What `systemctl --user is-enabled` says: whether the timer is on, or nothing when its answer
    // is no unit state (no user session, no such unit).
    static std::optional<bool> Enabled(int exitCode, const std::string& output);

    State read() override;
    std::optional<std::string> turn(bool on) override;
    std::string label() const override;
    std::string unavailableText() const override;
    std::string fallbackHint() const override {
        return "Stattdessen mit „crontab -e“ diese Zeile eintragen:";
    }
    std::string fallbackLine() const override { return kCronLine; }
};

} // namespace app
