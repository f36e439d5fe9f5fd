// End to end: an update served by a real nginx.

#include "UpdateFixture.h"

#include "NginxServer.h"

TEST_F(UpdateFixture, UpdatesFromASiteServedByNginx)
{
    NginxServer nginx(site.path());
    if (!nginx.isRunning())
        GTEST_SKIP() << "nginx not available: " << nginx.error().toStdString();
    useSite(nginx.url("/updates/").toLatin1());

    const QByteArray exe(200'000, 'E');
    site.write("updates/game.exe", exe);
    site.write("updates/maps/green hill.ivm", "hill map");
    site.write("updates/maps/same.ivm", "SAME");
    site.write("updates/update.txt", "Ironvale 3D update 1.2\n"
                                     "\\game.exe\n200000\n"
                                     "\\maps\\green hill.ivm\n8\n"
                                     "\\maps\\same.ivm\n4\n");
    install("game.exe", "old exe");
    install("maps/same.ivm", "same");

    update();

    EXPECT_EQ(installed("game.exe"), exe);
    EXPECT_EQ(installed("maps/green hill.ivm"), "hill map");
    EXPECT_EQ(installed("maps/same.ivm"), "same");
    EXPECT_FALSE(root.exists("game/temp"));
    EXPECT_EQ(host.messages, QList<QByteArray>{"All done"});
    EXPECT_EQ(host.terminates, 1);
}
