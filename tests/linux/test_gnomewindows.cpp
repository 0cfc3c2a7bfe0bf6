// GNOME's window list as the program keeps it, from a stand-in for our GNOME Shell extension on
// a real session bus: fetched once and again only when the extension says it changed, never more
// than one question at a time, and nothing of a hostile answer kept beyond its bounds. Run under
// a private bus (ctest: linux_tests_on_bus); skipped without one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QElapsedTimer>

#include <functional>

#include "platform/linux/proc/procfs.h"
#include "platform/linux/wayland/gnomewindows.h"
#include "tests/linux/waitfor.h"

using namespace platform::linux_impl;

namespace {

struct Row {
    quint64 id = 0;
    uint pid = 0;
    bool x11 = false;
    quint64 xid = 0;
    QString title;
};

}  // namespace

Q_DECLARE_METATYPE(Row)

QDBusArgument& operator<<(QDBusArgument& out, const Row& row)
{
    out.beginStructure();
    out << row.id << row.pid << row.x11 << row.xid << row.title;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, Row& row)
{
    in.beginStructure();
    in >> row.id >> row.pid >> row.x11 >> row.xid >> row.title;
    in.endStructure();
    return in;
}

namespace {

// The extension as the bus shows it: List answers `rows` (or, with `hold`, not yet), and
// Changed goes out on request.
class FakeExtension : public QDBusVirtualObject {
public:
    QList<Row> rows;
    bool hold = false;
    bool wrongType = false;
    bool deny = false;
    int asked = 0;
    QList<QDBusMessage> held;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("List"))
            return false;
        ++asked;
        message.setDelayedReply(true);
        if (hold)
            held << message;
        else
            answer(message, connection);
        return true;
    }
    void answer(const QDBusMessage& message, const QDBusConnection& connection)
    {
        QDBusMessage reply = message.createReply();
        if (deny)
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                             QStringLiteral("not the installed program"));
        else if (wrongType)
            reply << QStringList{QStringLiteral("not a list")};
        else
            reply << QVariant::fromValue(rows);
        connection.send(reply);
    }
};

void Settle()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class GnomeWindowsOnBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        qDBusRegisterMetaType<Row>();
        qDBusRegisterMetaType<QList<Row>>();
        shell = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("shell")));
        ASSERT_TRUE(shell->registerVirtualObject(QString::fromLatin1(kGnomeWindowsPath), &extension));
        ASSERT_TRUE(shell->registerService(QString::fromLatin1(kGnomeWindowsService)));
    }
    void TearDown() override
    {
        if (shell) {
            shell->unregisterService(QString::fromLatin1(kGnomeWindowsService));
            shell->unregisterObject(QString::fromLatin1(kGnomeWindowsPath));
            shell.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("shell"));
        }
    }
    void Changed()
    {
        shell->send(QDBusMessage::createSignal(QString::fromLatin1(kGnomeWindowsPath),
                                               QString::fromLatin1(kGnomeWindowsInterface),
                                               QStringLiteral("Changed")));
    }

    FakeExtension extension;
    std::unique_ptr<QDBusConnection> shell;
};

const auto kSelf = static_cast<uint>(::getpid());

}  // namespace

TEST_F(GnomeWindowsOnBus, AsksOnceThenOnlyWhenTheListChanged)
{
    extension.rows = {{7, 4242, true, 0x1e00004, QStringLiteral("日本語タイトル端末")},
                      {8, kSelf, false, 99, QStringLiteral("ネイティブ端末")}};
    GnomeWindows gnome;
    ASSERT_TRUE(WaitFor([&] { return gnome.windows().size() == 2; }));
    const auto& x11 = gnome.windows()[0];
    EXPECT_TRUE(x11.x11);
    EXPECT_EQ(x11.x11Id, 0x1e00004u);
    EXPECT_EQ(x11.identity, 0u);   // the X server speaks for X11 windows' owners
    const auto& native = gnome.windows()[1];
    EXPECT_FALSE(native.x11);
    EXPECT_EQ(native.x11Id, 0u);   // a native window has no X id, whatever the peer says
    EXPECT_EQ(native.title, "ネイティブ端末");
    EXPECT_EQ(native.pid, kSelf);
    EXPECT_EQ(native.identity, readStartTime(kSelf));
    ASSERT_NE(native.identity, 0u);

    for (int tick = 0; tick < 20; ++tick)
        (void)gnome.windows();
    Settle();
    EXPECT_EQ(extension.asked, 1);

    extension.rows.removeFirst();
    Changed();
    ASSERT_TRUE(WaitFor([&] { return gnome.windows().size() == 1; }));
    EXPECT_EQ(extension.asked, 2);

    // The extension goes (disabled, or the shell restarts): nothing of its list stays.
    shell->unregisterService(QString::fromLatin1(kGnomeWindowsService));
    ASSERT_TRUE(WaitFor([&] { return gnome.windows().empty(); }));
}

TEST_F(GnomeWindowsOnBus, ChangesWhileAnAnswerIsOnItsWayMakeOneMoreQuestion)
{
    extension.hold = true;
    GnomeWindows gnome;
    ASSERT_TRUE(WaitFor([&] { return extension.asked == 1; }));
    for (int i = 0; i < 5; ++i)
        Changed();
    Settle();
    EXPECT_EQ(extension.asked, 1);
    EXPECT_TRUE(gnome.windows().empty());

    extension.hold = false;
    extension.rows = {{8, kSelf, false, 0, QStringLiteral("after")}};
    extension.answer(extension.held.takeFirst(), *shell);
    ASSERT_TRUE(WaitFor([&] { return extension.asked == 2 && gnome.windows().size() == 1; }));
    Settle();
    EXPECT_EQ(extension.asked, 2);
}

TEST_F(GnomeWindowsOnBus, AHostileAnswerIsBoundedOrRefused)
{
    // More rows than anyone has windows, a title far past what a row shows.
    for (quint64 i = 0; i < GnomeWindows::kMaxWindows + 100; ++i)
        extension.rows.append({i + 1, kSelf, false, 0, QString(3000, QChar(0x65E5))});
    GnomeWindows gnome;
    ASSERT_TRUE(WaitFor([&] { return !gnome.windows().empty(); }));
    EXPECT_EQ(gnome.windows().size(), GnomeWindows::kMaxWindows);
    EXPECT_EQ(gnome.windows()[0].title.size(), 1023u);   // 341 whole characters of 3 bytes

    // An answer of another shape is no list at all.
    extension.wrongType = true;
    Changed();
    ASSERT_TRUE(WaitFor([&] { return gnome.windows().empty(); }));
}

TEST_F(GnomeWindowsOnBus, RefusedOnceItAsksNoMoreUntilTheExtensionChanges)
{
    extension.deny = true;
    GnomeWindows gnome;
    ASSERT_TRUE(WaitFor([&] { return extension.asked == 1; }));
    Changed();
    Changed();
    Settle();
    EXPECT_EQ(extension.asked, 1);
    EXPECT_TRUE(gnome.windows().empty());

    // The extension comes back (enabled again, perhaps with a new callers file): asked again.
    extension.deny = false;
    extension.rows = {{8, kSelf, false, 0, QStringLiteral("allowed now")}};
    shell->unregisterService(QString::fromLatin1(kGnomeWindowsService));
    ASSERT_TRUE(shell->registerService(QString::fromLatin1(kGnomeWindowsService)));
    ASSERT_TRUE(WaitFor([&] { return gnome.windows().size() == 1; }));
}
