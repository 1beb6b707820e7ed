#include "Platform/Qt/TerminationSignals.hpp"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quorvane {

sigset_t TerminationSignals::signalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    const sigset_t set = signalSet();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
    descriptor_ = FileDescriptor(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (descriptor_) {
        notifier_ = std::make_unique<QSocketNotifier>(descriptor_.get(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPending);
    }
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    descriptor_.reset();
    // Blocked since the start of main, they stay blocked: a late signal must not kill the process
    // while it still tears down.
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void TerminationSignals::readPending() {
    signalfd_siginfo information{};
    while (::read(descriptor_.get(), &information, sizeof information) == sizeof information) {
        emit received(static_cast<int>(information.ssi_signo));
    }
}

} // namespace quorvane
