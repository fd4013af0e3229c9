#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test binary runs inside a QApplication on the offscreen platform, with its own runtime
// folder so that Qt does not warn about a missing or shared XDG_RUNTIME_DIR.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeDir.isValid()) {
        QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                     | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    }
    // A test never writes into the keychain of the desktop it runs on; the tests of the keychain
    // start a secret service of their own (private_keyring.h).
    qputenv("KIVVO_NO_KEYCHAIN", "1");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
