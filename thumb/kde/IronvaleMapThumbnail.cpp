// KDE's preview plugin for map files: KIO's thumbnail worker loads it (Dolphin, the file
// dialogs) and asks it for a picture of each map. It draws with thumb's own renderer, the one
// the thumbnailer entry uses, so every desktop shows the same preview.

#include "ThumbnailExport.h"

#include <KIO/ThumbnailCreator>
#include <KPluginFactory>

#include <QUrl>

#include <algorithm>
#include <exception>
#include <memory>

class IronvaleMapThumbnail : public KIO::ThumbnailCreator {
    Q_OBJECT
public:
    IronvaleMapThumbnail(QObject* parent, const QVariantList& args) : KIO::ThumbnailCreator(parent, args) {}

    KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override
    {
        if (!request.url().isLocalFile())
            return KIO::ThumbnailResult::fail();
        // A square preview; with caching on KIO asks for 128 or 256 pixels whatever the view shows.
        const QSize target = request.targetSize();
        const int size = std::clamp(std::min(target.width(), target.height()), MinThumbnailSize, MaxThumbnailSize);
        try {
            if (!textures_)
                textures_ = std::make_unique<BundledTextures>();
            return KIO::ThumbnailResult::pass(
                mapPreview(request.url().toLocalFile(), size, renderer_, textures_->textures()));
        } catch (const std::exception&) {
            // Unreadable or impossible maps get no preview; the file manager shows its icon.
            return KIO::ThumbnailResult::fail();
        }
    }

private:
    std::unique_ptr<BundledTextures> textures_;
    MapRenderer renderer_;
};

K_PLUGIN_CLASS_WITH_JSON(IronvaleMapThumbnail, "ironvale-map-thumbnail.json")

#include "IronvaleMapThumbnail.moc"
