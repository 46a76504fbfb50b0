// The scheduled run's switch on a systemd desktop: the user timer, switched with systemctl.
#include "app/TimerSwitch.h"

#include <QProcess>
#include <QStringList>
#include <string_view>
#include <utility>

namespace app {

namespace {

// systemctl answers at once or hangs on a bus that is not there: neither should freeze the window.
constexpr int kSystemctlTimeoutMs = 5000;

SystemdTimer::CommandResult RunSystemctl(const QStringList& arguments) {
    SystemdTimer::CommandResult result;
    QProcess process;
    process.start(QStringLiteral("systemctl"), arguments);
    if (!process.waitForStarted(kSystemctlTimeoutMs)) {
        result.error = QStringLiteral("systemctl ist nicht vorhanden");
        return result;
    }
    if (!process.waitForFinished(kSystemctlTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        result.error = QStringLiteral("systemctl hat nicht rechtzeitig geantwortet");
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return result;
}

SystemdTimer::CommandRunner& RunnerHook() {
    static SystemdTimer::CommandRunner hook;
    return hook;
}

SystemdTimer::CommandResult Systemctl(const QString& verb, bool now) {
    QStringList arguments{QStringLiteral("--user"), verb};
    if (now)
        arguments << QStringLiteral("--now");
    arguments << QString::fromLatin1(SystemdTimer::kUnit);
    return RunnerHook() ? RunnerHook()(arguments) : RunSystemctl(arguments);
}

} // namespace

std::unique_ptr<TimerSwitch> MakeTimerSwitch() {
    return std::make_unique<SystemdTimer>();
}

void SystemdTimer::setRunnerHook(CommandRunner hook) {
    RunnerHook() = std::move(hook);
}

std::optional<bool> SystemdTimer::Enabled(int exitCode, const std::string& output) {
    std::string_view state(output);
    state = state.substr(0, state.find_first_of("\r\n"));
    while (!state.empty() && (state.back() == ' ' || state.back() == '\t'))
        state.remove_suffix(1);
    if (state == "enabled" || state == "enabled-runtime")
        return exitCode == 0;
    // The states of an installed unit that is not on; "not-found", "bad" and an empty answer mean
    // the timer cannot be switched here.
    for (const std::string_view off : {"disabled", "static", "indirect", "masked", "masked-runtime", "linked",
                                       "linked-runtime", "alias", "generated", "transient"})
        if (state == off)
            return false;
    return std::nullopt;
}

TimerSwitch::State SystemdTimer::read() {
    const CommandResult result = Systemctl(QStringLiteral("is-enabled"), false);
    State state;
    if (result.finished)
        state.on = Enabled(result.exitCode, result.output.toStdString());
    if (!state.on)
        state.problem = result.error.toStdString();
    return state;
}

std::optional<std::string> SystemdTimer::turn(bool on) {
    const CommandResult result = Systemctl(on ? QStringLiteral("enable") : QStringLiteral("disable"), true);
    if (result.finished && result.exitCode == 0)
        return std::nullopt;
    return result.error.toStdString();
}

std::string SystemdTimer::label() const {
    return "Automatisch prüfen (systemd-Timer)";
}

std::string SystemdTimer::unavailableText() const {
    return "Der systemd-Timer lässt sich hier nicht schalten (keine systemd-Benutzersitzung oder der Timer "
           "ist nicht installiert)";
}

} // namespace app
