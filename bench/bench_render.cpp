// Renders a 100 x 100 map with every cell textured, ours against a plain renderer that asks
// QPainter for one stretched drawImage per cell, in the same run. Also checks the pixels.

#include "PaintMap.h"
#include "ThumbnailExport.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPainter>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

std::unique_ptr<MapRecord> fullMap(int w, int h)
{
    auto record = std::make_unique<MapRecord>();
    record->setMapWidth(w);
    record->setMapHeight(h);
    const quint8 codes[] = {2, 4, 8};
    for (int x = 1; x <= 100; ++x)
        for (int y = 1; y <= 100; ++y)
            record->setTerrain(x, y, codes[(x * 7 + y * 3) % 3]);
    return record;
}

const BundledTextures& textures()
{
    static const BundledTextures t;
    return t;
}

// The straightforward renderer: QPainter, one stretched draw of the whole texture per cell.
void baselineRender(const MapRecord& record, QImage& thumbnail, bool smoothOff = true)
{
    const BundledTextures& t = textures();
    QPainter painter(&thumbnail);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !smoothOff);
    for (const auto& [x, y] : {std::pair{0, 0}, {128, 0}, {0, 128}, {128, 128}})
        painter.drawImage(x, y, t.grass.graphic()->image());
    const int cw = ThumbnailSize / record.MapWidth();
    const int ch = ThumbnailSize / record.MapHeight();
    for (int x = 1; x <= record.MapWidth(); ++x)
        for (int y = 1; y <= record.MapHeight(); ++y) {
            const TPicture* picture = nullptr;
            switch (record.Terrain(x, y)) {
            case 2: picture = &t.water; break;
            case 4: picture = &t.wood; break;
            case 8: picture = &t.stone; break;
            default: break;
            }
            if (picture)
                painter.drawImage(QRect((x - 1) * cw, (y - 1) * ch, cw, ch), picture->graphic()->image());
        }
}

// Per-cell exact nearest stretch through TPicture::stretchDraw, without the renderer's cache.
void pictureRender(const MapRecord& record, QImage& thumbnail)
{
    const BundledTextures& t = textures();
    QPainter painter(&thumbnail);
    for (const auto& [x, y] : {std::pair{0, 0}, {128, 0}, {0, 128}, {128, 128}})
        t.grass.draw(painter, x, y);
    const int cw = ThumbnailSize / record.MapWidth();
    const int ch = ThumbnailSize / record.MapHeight();
    const TPicture* byCode[9] = {nullptr, nullptr, &t.water, nullptr, &t.wood, nullptr, nullptr, nullptr, &t.stone};
    for (int x = 1; x <= record.MapWidth(); ++x)
        for (int y = 1; y <= record.MapHeight(); ++y)
            if (const quint8 c = record.Terrain(x, y); c < 9 && byCode[c])
                byCode[c]->stretchDraw(painter, QRect((x - 1) * cw, (y - 1) * ch, cw, ch));
}

QImage blank()
{
    QImage image(ThumbnailSize, ThumbnailSize, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

void BM_Ours(benchmark::State& state)
{
    const auto record = fullMap(int(state.range(0)), int(state.range(0)));
    MapRenderer renderer;
    QImage image = blank();
    for (auto _ : state) {
        renderer.PaintMap(*record, textures().textures(), image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_QPainterPerCell(benchmark::State& state)
{
    const auto record = fullMap(int(state.range(0)), int(state.range(0)));
    QImage image = blank();
    for (auto _ : state) {
        baselineRender(*record, image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_StretchDrawPerCell(benchmark::State& state)
{
    const auto record = fullMap(int(state.range(0)), int(state.range(0)));
    QImage image = blank();
    for (auto _ : state) {
        pictureRender(*record, image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(BM_Ours)->Arg(100)->Arg(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QPainterPerCell)->Arg(100)->Arg(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StretchDrawPerCell)->Arg(100)->Arg(7)->Unit(benchmark::kMicrosecond);

int differingPixels(const QImage& a, const QImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

void comparePixels(int size)
{
    const auto record = fullMap(size, size);
    QImage ours = blank();
    MapRenderer().PaintMap(*record, textures().textures(), ours);
    QImage viaPicture = blank();
    pictureRender(*record, viaPicture);
    QImage viaQPainter = blank();
    baselineRender(*record, viaQPainter);
    std::printf("%d x %d map: pixels differing from ours: TPicture::stretchDraw per cell %d, "
                "QPainter drawImage per cell %d (of %d)\n",
                size, size, differingPixels(ours, viaPicture), differingPixels(ours, viaQPainter),
                ThumbnailSize * ThumbnailSize);
}

// Prints each peer's time as a multiple of ours after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* size : {"100", "7"}) {
            const double ours = times_["BM_Ours/" + std::string(size)];
            if (ours <= 0)
                continue;
            std::printf("%s x %s map: QPainter per cell takes %.1f x our time, stretchDraw per cell %.1f x\n",
                        size, size, times_["BM_QPainterPerCell/" + std::string(size)] / ours,
                        times_["BM_StretchDrawPerCell/" + std::string(size)] / ours);
        }
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    comparePixels(100);
    comparePixels(7);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
