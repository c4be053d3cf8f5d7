#include "common/keychain_secret_store.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <utility>

namespace tessaly {
namespace {

SecretStatus statusOf(QKeychain::Error error) {
    switch (error) {
    case QKeychain::NoError:
        return SecretStatus::Ok;
    case QKeychain::EntryNotFound:
        return SecretStatus::NotFound;
    default:
        // Access refused, no backend, a locked or broken keyring: for the caller all the same,
        // the secret is not to be had from there.
        return SecretStatus::NoKeyring;
    }
}

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service, int timeoutMs)
    : service_(std::move(service)), timeoutMs_(timeoutMs) {}

namespace {

// Starts `job` and waits for it; false when it did not finish in time. A job that finishes
// later deletes itself (auto-delete) without reaching anything of ours.
bool runJob(QKeychain::Job* job, int timeoutMs) {
    // A secret must never land in a plain file when no keyring is there.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished) {
        QObject::disconnect(job, nullptr, &loop, nullptr);
        job->setAutoDelete(true);
    }
    return finished;
}

} // namespace

SecretStatus KeychainSecretStore::run(QKeychain::Job* job, const std::string& key,
                                      const std::function<void(QKeychain::Job&)>& onOk) {
    if (unavailable_) {
        delete job;
        return SecretStatus::NoKeyring;
    }
    job->setKey(QString::fromStdString(key));
    if (!runJob(job, timeoutMs_)) {
        unavailable_ = true; // the job deletes itself whenever it ends
        return SecretStatus::NoKeyring;
    }
    const SecretStatus status = statusOf(job->error());
    if (status == SecretStatus::Ok && onOk)
        onOk(*job);
    // Refused once (no backend, access denied, a locked keyring left locked): not asked again
    // during this program start.
    unavailable_ = status == SecretStatus::NoKeyring;
    delete job;
    return status;
}

SecretRead KeychainSecretStore::read(const std::string& key) {
    SecretRead result;
    result.status = run(new QKeychain::ReadPasswordJob(service_), key, [&](QKeychain::Job& job) {
        result.secret = static_cast<QKeychain::ReadPasswordJob&>(job).textData().toStdString();
    });
    return result;
}

SecretStatus KeychainSecretStore::write(const std::string& key, const std::string& secret) {
    auto* job = new QKeychain::WritePasswordJob(service_);
    job->setTextData(QString::fromStdString(secret));
    return run(job, key, {});
}

SecretStatus KeychainSecretStore::erase(const std::string& key) {
    return run(new QKeychain::DeletePasswordJob(service_), key, {});
}

} // namespace tessaly
