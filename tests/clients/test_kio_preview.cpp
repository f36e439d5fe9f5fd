// KDE's preview path for maps, as Dolphin takes it: KIO::PreviewJob starts KIO's thumbnail worker
// (kio-extras), which finds the plugin by the map's MIME type in QT_PLUGIN_PATH (the build's
// plugins folder) and loads it. Runs on Qt 5 without a desktop session, in a throw-away HOME.

#include "ThumbnailExport.h"

#include <KFileItem>
#include <KIO/PreviewJob>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstdlib>

namespace {

const QString PluginId = QStringLiteral("ironvale-map-thumbnail");

QString writeMap(const QString& path, qint32 width, qint32 height)
{
    MapRecord record;
    record.setMapWidth(width);
    record.setMapHeight(height);
    for (int x = 1; x <= 100; ++x)
        for (int y = 1; y <= 100; ++y)
            record.setTerrain(x, y, quint8((x * 3 + y) % 9));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(record.bytes().data()), MapRecord::Size);
    return path;
}

}  // namespace

class KioPreview : public QObject {
    Q_OBJECT
private slots:
    void thePluginIsKnownByItsFileName()
    {
        QVERIFY2(KIO::PreviewJob::availablePlugins().contains(PluginId),
                 qPrintable(KIO::PreviewJob::availablePlugins().join(' ')));
    }

    void mapsGetTheirPreviewAndBadMapsNone()
    {
        const QString maps = QDir::home().filePath(QStringLiteral("maps"));
        QDir().mkpath(maps);
        const struct {
            QString map;
            int asked;
            int drawn;  // 0: no preview
        } cases[] = {
            {writeMap(maps + "/square.ivm", 40, 40), 256, 256},
            {writeMap(maps + "/wide.ivm", 30, 12), 128, 128},
            {writeMap(maps + "/small view.ivm", 9, 70), 64, 128},  // cached at 128, scaled by KIO
            {writeMap(maps + "/huge.ivm", -5, 100000), 128, 0},
        };
        BundledTextures textures;
        MapRenderer renderer;
        for (const auto& c : cases) {
            KFileItem item(QUrl::fromLocalFile(c.map));
            QCOMPARE(item.mimetype(), QStringLiteral("application/x-ironvale-map"));
            const QStringList plugins{PluginId};
            auto* job = new KIO::PreviewJob(KFileItemList{item}, QSize(c.asked, c.asked), &plugins);
            QSignalSpy got(job, &KIO::PreviewJob::gotPreview);
            QSignalSpy failed(job, &KIO::PreviewJob::failed);
            QSignalSpy done(job, &KJob::result);
            QVERIFY(done.wait(30000));
            if (c.drawn == 0) {
                QCOMPARE(got.count(), 0);
                QCOMPARE(failed.count(), 1);
                continue;
            }
            QCOMPARE(got.count(), 1);
            const QImage preview = got.first().at(1).value<QPixmap>().toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(preview.size(), QSize(c.asked, c.asked));
            QImage expected = mapPreview(c.map, c.drawn, renderer, textures.textures());
            if (c.drawn != c.asked)
                expected = expected.scaled(c.asked, c.asked, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            // The transparent margins come through; at the size drawn, so does every pixel.
            for (int y = 0; y < c.asked; ++y)
                QCOMPARE(qAlpha(preview.pixel(c.asked / 2, y)) > 128, qAlpha(expected.pixel(c.asked / 2, y)) > 128);
            if (c.drawn == c.asked)
                QCOMPARE(preview, expected);
        }
    }
};

int main(int argc, char** argv)
{
    // A throw-away home, and a data folder that holds the map's MIME type beside the system's.
    QTemporaryDir root;
    const QString mime = root.filePath(QStringLiteral("share/mime"));
    QDir().mkpath(mime + "/packages");
    QFile::copy(QStringLiteral(IV_SOURCE_DIR "/packaging/ironvale-map.xml"), mime + "/packages/ironvale-map.xml");
    QProcess update;
    update.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    update.setStandardOutputFile(QProcess::nullDevice());
    update.start(QStringLiteral("update-mime-database"), {mime});
    if (!update.waitForFinished() || update.exitCode() != 0) {
        std::fputs("update-mime-database failed (shared-mime-info)\n", stderr);
        return 1;
    }
    for (const char* folder : {"home", "cache", "config", "data", "runtime"})
        QDir().mkpath(root.filePath(QLatin1String(folder)));
    QFile::setPermissions(root.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(root.filePath("home")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root.filePath("cache")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath("data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath("runtime")));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath("share")) + ":/usr/share");
    qputenv("QT_PLUGIN_PATH", IV_PLUGIN_DIR);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    KioPreview test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_kio_preview.moc"
