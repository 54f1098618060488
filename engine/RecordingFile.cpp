#include "engine/RecordingFile.h"

#include <strings.h>

#include "platform/avi/AviRepair.h"
#include "platform/avi/AviWriter.h"
#include "platform/mp4/Mp4Repair.h"
#include "platform/mp4/Mp4Writer.h"

namespace torvane {

Container containerOf(const std::string& path) {
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Container::Avi;
    return ::strcasecmp(path.c_str() + dot, ".mp4") == 0 ? Container::Mp4 : Container::Avi;
}

std::unique_ptr<media::IMediaWriter> createRecordingFile(const std::string& path, std::string* error) {
    if (containerOf(path) == Container::Mp4) return mp4::Mp4Writer::create(path, error);
    return avi::AviWriter::create(path, error);
}

bool repairRecordingInPlace(const std::string& path, std::string& summary, std::string& error) {
    if (containerOf(path) == Container::Mp4) return mp4::repairMp4FileInPlace(path, summary, error);
    avi::RepairReport report;
    if (!avi::repairAviFileInPlace(path, report, error)) return false;
    summary = report.summary();
    return true;
}

}  // namespace torvane
