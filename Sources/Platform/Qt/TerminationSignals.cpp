#include "Platform/Qt/TerminationSignals.hpp"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quorvane {

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    descriptor_ = FileDescriptor(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (descriptor_) {
        notifier_ = std::make_unique<QSocketNotifier>(descriptor_.get(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPending);
    }
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    descriptor_.reset();
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void TerminationSignals::readPending() {
    signalfd_siginfo information{};
    while (::read(descriptor_.get(), &information, sizeof information) == sizeof information) {
        emit received(static_cast<int>(information.ssi_signo));
    }
}

} // namespace quorvane
