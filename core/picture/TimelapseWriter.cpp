#include "core/picture/TimelapseWriter.h"

#include "core/picture/Stamp.h"

#include <QImage>
#include <QSaveFile>
#include <webp/encode.h>
#include <webp/mux.h>
#include <algorithm>
#include <cstring>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// The encoder and its output, let go on every way out.
struct Encoder {
    WebPAnimEncoder *enc = nullptr;
    WebPData data;
    WebPPicture picture;
    Encoder()
    {
        WebPDataInit(&data);
        WebPPictureInit(&picture);
    }
    ~Encoder()
    {
        WebPPictureFree(&picture);
        WebPDataClear(&data);
        if (enc)
            WebPAnimEncoderDelete(enc);
    }
    QString error() const { return enc ? QString::fromUtf8(WebPAnimEncoderGetError(enc)) : QString(); }
};

} // namespace

QSize TimelapseFrameSize(QSize picture, int percent)
{
    percent = std::clamp(percent, 1, 100);
    return {std::max(1, (picture.width() * percent + 50) / 100), std::max(1, (picture.height() * percent + 50) / 100)};
}

TimelapseOutcome WriteTimelapse(const TimelapsePlan &plan, const TimelapseOptions &options, const QString &path,
                                const std::atomic<bool> &cancel, const std::function<void(int, int)> &progress,
                                QString *why)
{
    const auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return TimelapseOutcome::Failed;
    };
    if (plan.frameEnds.empty() || plan.size.isEmpty())
        return fail(QStringLiteral("描かれた線がありません"));
    const QSize frame = TimelapseFrameSize(plan.size, options.scalePercent);
    if (frame.width() > WEBP_MAX_DIMENSION || frame.height() > WEBP_MAX_DIMENSION)
        return fail(QStringLiteral("画像が大きすぎます（%1×%2）").arg(frame.width()).arg(frame.height()));

    Encoder e;
    WebPAnimEncoderOptions animation;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&animation) || !WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, 1))
        return fail(QStringLiteral("WebP ライブラリの版が合いません"));
    animation.anim_params.loop_count = 0;
    animation.anim_params.bgcolor = 0xFFFFFFFF;
    // Frames differ by a few strokes: each is stored as what changed, none whole again.
    animation.kmax = 0;
    e.enc = WebPAnimEncoderNew(frame.width(), frame.height(), &animation);
    e.picture.use_argb = 1;
    e.picture.width = frame.width();
    e.picture.height = frame.height();
    if (!e.enc || !WebPPictureAlloc(&e.picture))
        return fail(QStringLiteral("メモリが足りません"));

    QImage canvas(plan.size, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    const int total = int(plan.frameEnds.size());
    const int frameMs = std::max(1, options.frameMs);
    uint32_t drawn = 0;
    for (int i = 0; i < total; ++i) {
        if (cancel.load())
            return TimelapseOutcome::Cancelled;
        const uint32_t end = std::min<uint32_t>(plan.frameEnds[size_t(i)], uint32_t(plan.stamps.size()));
        for (; drawn < end; ++drawn) {
            const TimelapsePlan::Stamp &s = plan.stamps[drawn];
            DrawStamp(canvas, s.type(), s.size, s.color(), s.x, s.y);
        }
        const QImage shown = frame == plan.size ? canvas
                                                : canvas.scaled(frame, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // Both hold 0xAARRGGBB words.
        for (int y = 0; y < frame.height(); ++y)
            std::memcpy(e.picture.argb + size_t(y) * size_t(e.picture.argb_stride), shown.constScanLine(y),
                        size_t(frame.width()) * 4);
        if (!WebPAnimEncoderAdd(e.enc, &e.picture, i * frameMs, &config))
            return fail(e.error());
        if (progress)
            progress(i + 1, total);
    }
    if (!WebPAnimEncoderAdd(e.enc, nullptr, (total - 1) * frameMs + std::max(frameMs, options.lastFrameMs), nullptr)
        || !WebPAnimEncoderAssemble(e.enc, &e.data))
        return fail(e.error());
    if (cancel.load())
        return TimelapseOutcome::Cancelled;

    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(reinterpret_cast<const char *>(e.data.bytes), qint64(e.data.size)) != qint64(e.data.size)
        || !file.commit())
        return fail(file.errorString());
    return TimelapseOutcome::Written;
}

std::shared_ptr<std::atomic<bool>> TimelapseJob::Start(TimelapsePlan plan, TimelapseOptions options, QString path,
                                                       QObject *context, std::function<void(int, int)> progress,
                                                       std::function<void(TimelapseOutcome, QString)> done)
{
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    // Lives on the calling thread; the writing thread only emits its signals, queued to the
    // context (and dropped with it), then lets it go behind them.
    auto *job = new TimelapseJob;
    connect(job, &TimelapseJob::Progress, context, std::move(progress), Qt::QueuedConnection);
    connect(job, &TimelapseJob::Done, context, std::move(done), Qt::QueuedConnection);
    std::thread([job, cancel, plan = std::move(plan), options, path = std::move(path)] {
        pthread_setname_np(pthread_self(), "timelapse");
        // Below the window's thread: the encoding may take the rest of a core, never the window's.
        setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
        QString why;
        const TimelapseOutcome outcome = WriteTimelapse(
            plan, options, path, *cancel, [job](int d, int t) { emit job->Progress(d, t); }, &why);
        emit job->Done(outcome, why);
        job->deleteLater();
    }).detach();
    return cancel;
}
