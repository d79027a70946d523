#include "board/tool/board_summary.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "board/control/board_control.h"

namespace nolva::board {
namespace {

constexpr std::size_t kDumpLimit = 64;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

bool OpensForWriting(const std::string& how) {
  if (StartsWith(how, "O_")) return how.find("O_RDONLY") == std::string::npos;
  return how.find_first_of("wa+") != std::string::npos;
}

// The flash file a log line writes to, or "".
std::string WrittenFlashFile(const std::vector<std::string>& w) {
  if (w.size() >= 3 && w[0] == "open" && StartsWith(w[1], "/flash/") && OpensForWriting(w[2]))
    return w[1];
  if (w.size() >= 2 && w[0] == "write" && StartsWith(w[1], "/flash/")) return w[1];
  if (w.size() >= 3 && w[0] == "rename" && StartsWith(w[2], "/flash/")) return w[2];
  return "";
}

void Section(std::ostringstream& out, const char* title, const std::vector<std::string>& items) {
  out << title << (items.empty() ? " none\n" : "\n");
  for (const std::string& item : items)
    out << "  " << item << "\n";
}

std::string GpioItem(const std::vector<std::string>& w) {
  std::string item = w[2];
  for (std::size_t i = 3; i < w.size(); ++i)
    item += ((i - 3) % 4 == 0 ? "\n      " : " ") + w[i];
  return item;
}

std::string FileItem(const std::string& board, const std::string& device) {
  const std::string host = HostPath(board, device);
  std::error_code error;
  if (!std::filesystem::is_regular_file(host, error)) return device + "  (gone)";
  const std::string bytes = ReadFile(host);
  std::string item = device + "  " + std::to_string(bytes.size()) + " bytes";
  if (bytes.size() > kDumpLimit || bytes.empty()) return item;
  item += "\n     ";
  char hex[4];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, " %02x", c);
    item += hex;
  }
  return item;
}

// What one MTD partition saw: its erases, writes and reads.
struct PartitionActivity {
  std::string device;
  std::string erases;  // a line each
  std::vector<std::string> writes;
  unsigned long long written = 0;
  unsigned long long reads = 0;
  unsigned long long readBytes = 0;
};

constexpr std::size_t kWritesShown = 8;

// Adds an "erase", "write" or "read" line of a /dev/mtd partition.
void NotePartition(std::vector<PartitionActivity>& partitions, const std::vector<std::string>& w) {
  if (w.size() < 3 || !StartsWith(w[1], "/dev/mtd")) return;
  auto partition = std::find_if(partitions.begin(), partitions.end(),
                                [&](const PartitionActivity& p) { return p.device == w[1]; });
  if (partition == partitions.end()) partition = partitions.insert(partition, {w[1], "", {}});
  if (w[0] == "erase" && w.size() >= 4) {
    partition->erases += "\n      erase " + w[2] + " +" + w[3];
    for (std::size_t i = 4; i < w.size(); ++i)
      partition->erases += " " + w[i];
  } else if (w[0] == "write") {
    partition->writes.push_back(w[2]);
    partition->written += std::stoull(w[2]);
  } else if (w[0] == "read") {
    ++partition->reads;
    partition->readBytes += std::stoull(w[2]);
  }
}

std::string PartitionItem(const PartitionActivity& partition) {
  std::string item = partition.device + partition.erases;
  if (!partition.writes.empty()) {
    item += "\n      writes: " + std::to_string(partition.writes.size()) + " (" +
            std::to_string(partition.written) + " bytes):";
    for (std::size_t i = 0; i < partition.writes.size() && i < kWritesShown; ++i)
      item += " " + partition.writes[i];
    if (partition.writes.size() > kWritesShown) item += " ...";
  }
  if (partition.reads > 0)
    item += "\n      reads: " + std::to_string(partition.reads) + " (" +
            std::to_string(partition.readBytes) + " bytes)";
  return item;
}

}  // namespace

std::string Summary(const std::string& board, const std::vector<std::string>& logLines) {
  std::vector<std::string> commands;
  std::vector<std::string> gpio;
  std::vector<std::string> files;
  std::vector<std::string> faults;
  std::vector<PartitionActivity> partitions;
  std::vector<std::string> sleeps;
  std::vector<std::string> reboots;
  for (const std::string& line : logLines) {
    const std::vector<std::string> w = Words(line);
    if (w.empty()) continue;
    if (w[0] == "system") commands.push_back(line.substr(7));
    if (w[0] == "gpio" && w.size() >= 3) gpio.push_back(GpioItem(w));
    if (w[0] == "fault") faults.push_back(line.substr(6));
    if (w[0] == "usleep" && w.size() >= 2) sleeps.push_back(w[1] + " us");
    if (StartsWith(line, "reboot ")) reboots.push_back(line.substr(7));
    NotePartition(partitions, w);
    if (w[0] == "rename" && w.size() >= 3)  // a temporary file renamed into place
      files.erase(std::remove(files.begin(), files.end(), w[1]), files.end());
    const std::string file = WrittenFlashFile(w);
    if (!file.empty() && std::find(files.begin(), files.end(), file) == files.end())
      files.push_back(file);
  }
  std::vector<std::string> fileItems;
  for (const std::string& file : files)
    fileItems.push_back(FileItem(board, file));
  std::vector<std::string> partitionItems;
  for (const PartitionActivity& partition : partitions)
    partitionItems.push_back(PartitionItem(partition));
  std::ostringstream out;
  Section(out, "commands:", commands);
  Section(out, "gpio requests:", gpio);
  Section(out, "flash files written:", fileItems);
  Section(out, "flash partitions:", partitionItems);
  Section(out, "sleeps:", sleeps);
  Section(out, "reboots:", reboots);
  Section(out, "faults applied:", faults);
  return out.str();
}

}  // namespace nolva::board
