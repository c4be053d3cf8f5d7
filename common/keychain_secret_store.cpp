#include "common/keychain_secret_store.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <memory>
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

// The answer of one job, seen by the calling thread only.
struct Outcome {
    bool done = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString secret;
    QEventLoop* loop = nullptr;
};

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service, int timeoutMs)
    : service_(std::move(service)), timeoutMs_(timeoutMs) {}

KeychainSecretStore::~KeychainSecretStore() {
    if (!thread_)
        return;
    thread_->quit();
    // A job still hanging in the library keeps its thread (and the object its answer would reach)
    // until the process ends; waiting for it would hang the program's end instead.
    if (!thread_->wait(1000))
        return;
    delete relay_;
    delete thread_;
}

SecretStatus KeychainSecretStore::run(Op op, const std::string& key, const std::string& secret,
                                      std::string* readSecret) {
    if (unavailable_)
        return SecretStatus::NoKeyring;
    if (!thread_) {
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("keyring"));
        worker_ = new QObject;
        worker_->moveToThread(thread_);
        QObject::connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
        thread_->start();
        relay_ = new QObject;
        hanging_ = std::make_shared<std::atomic_bool>(false);
    }
    *hanging_ = true;
    auto outcome = std::make_shared<Outcome>();
    QObject* relay = relay_; // the answer comes back through this thread's object
    const QString service = service_;
    const QString keyText = QString::fromStdString(key);
    QString data = QString::fromStdString(secret);
    QMetaObject::invokeMethod(
        worker_,
        [op, service, keyText, data, outcome, relay, hanging = hanging_]() mutable {
            QKeychain::Job* job = nullptr;
            switch (op) {
            case Op::Read:
                job = new QKeychain::ReadPasswordJob(service);
                break;
            case Op::Write: {
                auto* write = new QKeychain::WritePasswordJob(service);
                write->setTextData(data);
                job = write;
                break;
            }
            case Op::Erase:
                job = new QKeychain::DeletePasswordJob(service);
                break;
            }
            data.fill(QLatin1Char('\0'));
            // A secret must never land in a plain file when no keyring is there.
            job->setInsecureFallback(false);
            job->setAutoDelete(false);
            job->setKey(keyText);
            QObject::connect(
                job, &QKeychain::Job::finished, job, [op, job, outcome, relay, hanging] {
                    *hanging = false;
                    const QKeychain::Error error = job->error();
                    QString text;
                    if (op == Op::Read && error == QKeychain::NoError)
                        text = static_cast<QKeychain::ReadPasswordJob*>(job)->textData();
                    job->deleteLater();
                    QMetaObject::invokeMethod(
                        relay,
                        [outcome, error, text] {
                            outcome->done = true;
                            outcome->error = error;
                            outcome->secret = text;
                            if (outcome->loop)
                                outcome->loop->quit();
                        },
                        Qt::QueuedConnection);
                });
            job->start();
        },
        Qt::QueuedConnection);
    data.fill(QLatin1Char('\0'));

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    outcome->loop = &loop;
    timer.start(timeoutMs_);
    if (!outcome->done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    outcome->loop = nullptr;
    if (!outcome->done) {
        unavailable_ = true;
        return SecretStatus::NoKeyring;
    }
    const SecretStatus status = statusOf(outcome->error);
    if (status == SecretStatus::Ok && readSecret)
        *readSecret = outcome->secret.toStdString();
    outcome->secret.fill(QLatin1Char('\0'));
    // Refused once (no backend, access denied, a locked keyring left locked): not asked again
    // during this program start.
    unavailable_ = status == SecretStatus::NoKeyring;
    return status;
}

SecretRead KeychainSecretStore::read(const std::string& key) {
    SecretRead result;
    result.status = run(Op::Read, key, {}, &result.secret);
    return result;
}

SecretStatus KeychainSecretStore::write(const std::string& key, const std::string& secret) {
    return run(Op::Write, key, secret, nullptr);
}

SecretStatus KeychainSecretStore::erase(const std::string& key) {
    return run(Op::Erase, key, {}, nullptr);
}

} // namespace tessaly
