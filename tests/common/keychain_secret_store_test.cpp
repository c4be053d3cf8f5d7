// The keyring store when the session bus accepts a connection and never answers (the worst case
// of a broken desktop session): every call ends in bounded time with NoKeyring, later calls at
// once, and nothing is written in plain text instead.
#include "common/keychain_secret_store.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tessaly::KeychainSecretStore;
using tessaly::SecretStatus;

TEST(KeychainSecretStore, AKeyringThatNeverAnswersCountsAsNone) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    KeychainSecretStore store(QStringLiteral("Tessaly-test"), 1000);
    // Declared after the store, so that it goes first: its end releases the call that hangs on
    // it, and the store's thread can end with the store.
    QLocalServer silentBus;
    ASSERT_TRUE(silentBus.listen(home.filePath(QStringLiteral("bus"))));
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + home.filePath(QStringLiteral("bus")).toUtf8());
    // A home of our own, to see that nothing lands in a file there.
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(store.write("smtp:host:587:taro", "pw-not-in-a-file"), SecretStatus::NoKeyring);
    EXPECT_LT(clock.elapsed(), 5000);
    clock.restart();
    const tessaly::SecretRead read = store.read("smtp:host:587:taro");
    EXPECT_EQ(read.status, SecretStatus::NoKeyring);
    EXPECT_TRUE(read.secret.empty());
    EXPECT_EQ(store.erase("smtp:host:587:taro"), SecretStatus::NoKeyring);
    EXPECT_LT(clock.elapsed(), 500) << "asked again after the keyring was found missing";
    EXPECT_TRUE(store.callHanging());

    QDirIterator files(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly)) {
            EXPECT_FALSE(file.readAll().contains("pw-not-in-a-file"))
                << files.filePath().toStdString();
        }
    }
}
