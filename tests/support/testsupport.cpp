#include "testsupport.h"

#include <QCryptographicHash>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

std::filesystem::path TestDataDir()
{
    std::filesystem::path dir;
    if (const char *env = std::getenv("PIXORTA_TESTDATA"); env && *env)
        dir = env;
    else
        dir = PIXORTA_TESTDATA_DEFAULT;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(dir / "reference.tsv", ec))
        return {};
    return dir;
}

static std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path &file)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t'))
            cells.push_back(cell);
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::vector<TestImageRef> LoadTestImageRefs()
{
    std::vector<TestImageRef> refs;
    const auto dir = TestDataDir();
    if (dir.empty())
        return refs;
    const auto manifest = ReadTsv(dir / "manifest.tsv");
    const auto reference = ReadTsv(dir / "reference.tsv");
    if (manifest.empty() || reference.empty())
        return refs;
    auto column = [](const std::vector<std::string> &header, const std::string &name) {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name)
                return static_cast<int>(i);
        return -1;
    };
    const int mPath = column(manifest[0], "path"), mFormat = column(manifest[0], "format");
    std::map<std::string, std::string> formats;
    for (size_t i = 1; i < manifest.size(); ++i)
        if (static_cast<int>(manifest[i].size()) > std::max(mPath, mFormat))
            formats[manifest[i][mPath]] = manifest[i][mFormat];
    const auto &h = reference[0];
    const int cPath = column(h, "path"), cW = column(h, "width"), cH = column(h, "height"),
              cSha = column(h, "rgba_sha256"), cVis = column(h, "visible_sha256"),
              cExpect = column(h, "expect");
    for (size_t i = 1; i < reference.size(); ++i) {
        const auto &r = reference[i];
        auto cell = [&](int c) { return c >= 0 && c < static_cast<int>(r.size()) ? r[c] : std::string(); };
        TestImageRef ref;
        ref.path = cell(cPath);
        ref.format = formats[ref.path];
        ref.expect = cell(cExpect);
        ref.width = std::atoi(cell(cW).c_str());
        ref.height = std::atoi(cell(cH).c_str());
        ref.rgbaSha256 = cell(cSha);
        ref.visibleSha256 = cell(cVis);
        refs.push_back(std::move(ref));
    }
    return refs;
}

std::string Sha256Hex(const void *data, size_t size)
{
    return QCryptographicHash::hash(
               QByteArrayView(static_cast<const char *>(data), static_cast<qsizetype>(size)),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

MessageRecorder::MessageRecorder()
{
    m_previous = SetMessageHandler([this](const QString &text, const QString &caption,
                                          MsgButtons buttons, MsgIcon) {
        m_messages.push_back({text, caption, buttons});
        if (!m_script.empty()) {
            const MsgAnswer a = m_script.front();
            m_script.pop_front();
            return a;
        }
        return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgAnswer::Ok
                                                                             : MsgAnswer::Yes;
    });
}

MessageRecorder::~MessageRecorder()
{
    SetMessageHandler(m_previous);
}

QStringList MessageRecorder::Texts() const
{
    QStringList texts;
    for (const auto &m : m_messages)
        texts << m.text;
    return texts;
}
