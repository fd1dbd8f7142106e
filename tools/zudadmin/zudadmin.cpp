// zudadmin: administration of database files from the command line.
//
//   zudadmin create FILE [--page-size N] [--extent N] [--max-connections N]
//                        [--password P [--algorithm N]]
//   zudadmin info FILE [--json] [--password P]
//   zudadmin pages FILE [--password P]
//   zudadmin create-table | import | tables | schema | dump | check | repair
//            (TableCommands.h),
//            each with [--password P]
//
// create makes a complete empty database: the fixed blocks, the system
// directory, the active sessions file with MaxConnections slots (500 unless
// --max-connections says otherwise) and an empty table list. info shows the
// header fields, MaxConnections and the free-space figures. repair rebuilds
// a damaged file (a commit that stopped half-way, pages that fail their
// CRC) from what can be read and keeps the damaged bytes in FILE.bak.
//
// A password is taken as typed (UTF-8) and used as its Windows-1252 bytes,
// like every 8-bit string of the engine; an empty one means no encryption.
//
// Errors go to stderr as the engine's message (with its native error code)
// and the exit code is 1; a wrong command line exits with 2 and the usage.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "TableCommands.h"
#include "disk/DiskDatabase.h"
#include "disk/ZUDDiskEngine.h"
#include "disk/ZUDSecurity.h"

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

struct UsageError {
  std::string text;
};

// Takes "--password P" out of a table command's options, wherever it stands,
// so the command sees only its own arguments.
TABSPassword TakePassword(std::vector<std::string>& options) {
  TABSPassword password;
  for (size_t i = 0; i < options.size();) {
    if (options[i] != "--password") {
      ++i;
      continue;
    }
    if (i + 1 >= options.size()) throw UsageError{"missing value for --password"};
    password = PasswordFromUtf8(options[i + 1]);
    options.erase(options.begin() + static_cast<std::ptrdiff_t>(i),
                  options.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return password;
}

// Takes a flag out of the options, wherever it stands; true when it was there.
bool TakeFlag(std::vector<std::string>& options, const std::string& flag) {
  const auto at = std::find(options.begin(), options.end(), flag);
  if (at == options.end()) return false;
  options.erase(at);
  return true;
}

void PrintUsage(std::ostream& out) {
  out << "usage: zudadmin create FILE [--page-size N] [--extent N] [--max-connections N]\n"
         "                       [--password P [--algorithm N]]\n"
         "       zudadmin info FILE [--json] [--password P]\n"
         "       zudadmin pages FILE [--password P]\n"
         "       zudadmin create-table FILE TABLE \"name TYPE[(size)] [NOT NULL], ...\"\n"
         "                             [--index NAME:FIELD[,FIELD...][:unique]]...\n"
         "       zudadmin import FILE TABLE CSVFILE [--batch N] [--password P]\n"
         "                       (one transaction, or a commit every N records)\n"
         "       zudadmin tables FILE [--password P]\n"
         "       zudadmin schema FILE TABLE [--password P]\n"
         "       zudadmin dump FILE TABLE [--csv] [--password P]\n"
         "       zudadmin check FILE [--password P]\n"
         "       zudadmin repair FILE [--password P]\n"
         "       create-table and import take --durable: every commit is flushed to the disk\n";
}

long ParseNumber(const std::string& option, const std::string& text, long min, long max) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
    throw UsageError{option + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                     ", not '" + text + "'"};
  return value;
}

int Create(const std::string& file, const std::vector<std::string>& options) {
  uint16_t pageSize = tiv::disk::kDefaultPageSize;
  uint16_t extent = tiv::disk::kDefaultPageCountInExtent;
  int32_t maxConnections = TABSDiskDatabase::kDefaultMaxConnections;
  TABSPassword password;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& o = options[i];
    if (i + 1 >= options.size()) throw UsageError{"unknown option or missing value: " + o};
    const std::string& v = options[++i];
    if (o == "--page-size") {
      pageSize = static_cast<uint16_t>(ParseNumber(o, v, tiv::disk::kMinPageSize, 65535));
    } else if (o == "--extent") {
      extent = static_cast<uint16_t>(ParseNumber(o, v, 1, 65535));
    } else if (o == "--password") {
      password = PasswordFromUtf8(v, password.CryptoAlgorithm);
    } else if (o == "--algorithm") {
      password.CryptoAlgorithm = static_cast<uint8_t>(ParseNumber(o, v, 0, tiv::disk::kCryptoAlgorithmCount - 1));
    } else if (o == "--max-connections") {
      maxConnections = static_cast<int32_t>(ParseNumber(o, v, 1, 65535));
    } else {
      throw UsageError{"unknown option: " + o};
    }
  }
  TABSDiskDatabase db;
  db.CreateDatabase(file, password, maxConnections, extent, pageSize);
  std::cout << "Created " << file << " (PageSize " << pageSize << ", PageCountInExtent " << extent
            << ", MaxConnections " << maxConnections << ")\n";
  return 0;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int Info(const std::string& file, const std::vector<std::string>& options) {
  bool json = false;
  TABSPassword password;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& o = options[i];
    if (o == "--json")
      json = true;
    else if (o == "--password" && i + 1 < options.size())
      password = PasswordFromUtf8(options[++i]);
    else
      throw UsageError{"unknown option or missing value: " + o};
  }
  TABSDiskPageManager pm;
  bool multiUser = true, needRepair = false, readOnly = true;
  pm.OpenDatabaseFile(file, password, multiUser, false, needRepair, readOnly);
  const TABSDatabaseHeader& h = pm.Header();
  const TABSCryptoCheckBlock& c = pm.CheckBlock();
  char version[32];
  std::snprintf(version, sizeof version, "%.15g", h.Version);
  char crc[16];
  std::snprintf(crc, sizeof crc, "0x%08X", c.CheckCRC);
  // (name, value, is text)
  std::vector<std::tuple<std::string, std::string, bool>> fields = {
      {"DatabaseStart", std::to_string(pm.DatabaseStart()), false},
      {"Signature", h.SignatureText(), true},
      {"HeaderSize", std::to_string(h.HeaderSize), false},
      {"Version", version, false},
      {"PageSize", std::to_string(h.PageSize), false},
      {"PageCountInExtent", std::to_string(h.PageCountInExtent), false},
      {"TotalPageCount", std::to_string(h.TotalPageCount), false},
      {"LastUsedPageNo", std::to_string(h.LastUsedPageNo), false},
      {"CommitCounter", std::to_string(h.CommitCounter), false},
      {"State", std::to_string(h.State), false},
      {"Encrypted", std::to_string(h.Encrypted), false},
      {"CheckBlockSize", std::to_string(c.CheckBlockSize), false},
      {"CryptoAlgorithm", std::to_string(c.CryptoAlgorithm), false},
      {"CheckCRC", crc, true},
      {"LockAreaSize", std::to_string(pm.LockAreaSize()), false},
      {"NextObjectID", std::to_string(pm.PeekNextObjectID()), false},
      {"PageAreaOffset", std::to_string(pm.PageAreaOffset()), false},
      {"NeedRepair", needRepair ? "true" : "false", false},
  };
  // The connection slots: the size of the active sessions file, read
  // through the database-level open. A file whose system files cannot be
  // read still shows its header; the error goes to stderr and the exit
  // code says so.
  std::string maxConnections = "-";
  std::string failure;
  try {
    TABSDiskDatabase whole;
    bool mu = true, nr = false, ro = true;
    whole.OpenDatabase(file, password, mu, false, nr, ro);
    maxConnections = std::to_string(whole.MaxConnections());
  } catch (const std::exception& e) {
    failure = e.what();
  }
  fields.push_back({"MaxConnections", json && failure.size() ? "null" : maxConnections, false});
  // Free-space figures from the map pages (none before the first page).
  const TABSDatabaseFreeSpaceManager::Usage u = pm.FreeSpaceManager().CountUsage();
  fields.push_back({"PagesUsed", std::to_string(u.used), false});
  fields.push_back({"PagesFree", std::to_string(u.free), false});
  fields.push_back({"Extents", std::to_string(u.extents), false});
  std::ostringstream out;
  if (json) {
    out << "{";
    for (size_t i = 0; i < fields.size(); ++i) {
      const auto& [name, value, text] = fields[i];
      out << (i ? ", " : "") << JsonString(name) << ": " << (text ? JsonString(value) : value);
    }
    out << "}\n";
  } else {
    for (const auto& [name, value, text] : fields) out << name << ": " << value << "\n";
  }
  std::cout << out.str();
  if (!failure.empty()) {
    std::cout.flush();
    std::cerr << "zudadmin: " << failure << "\n";
    return kExitError;
  }
  return 0;
}

// One line per page of the page area, straight from the file: number, type
// text, PageVersion, NextPageNo, OwnerTableID and the page's state in the
// free-space map. Bytes that are not a page say so instead of a type.
int Pages(const std::string& file, const std::vector<std::string>& options) {
  TABSPassword password;
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i] == "--password" && i + 1 < options.size())
      password = PasswordFromUtf8(options[++i]);
    else
      throw UsageError{"unknown option or missing value: " + options[i]};
  }
  TABSDiskPageManager pm;
  bool multiUser = true, needRepair = false, readOnly = true;
  pm.OpenDatabaseFile(file, password, multiUser, false, needRepair, readOnly);
  TABSDatabaseFreeSpaceManager& fsm = pm.FreeSpaceManager();
  fsm.CountUsage();  // rereads the header
  const int32_t total = pm.Header().TotalPageCount;
  std::vector<uint8_t> buf(pm.PageSize());
  std::ostringstream out;
  out << "PageNo\tType\tPageVersion\tNextPageNo\tOwnerTableID\tMap\n";
  for (int32_t n = 0; n < total; ++n) {
    out << n << "\t";
    if (!pm.ReadPage(n, buf.data())) {
      out << "(unreadable)\t-\t-\t-\t";
    } else if (std::memcmp(buf.data() + tiv::disk::kPgSignature, tiv::disk::kPageSignature, 4) != 0) {
      out << "(no page)\t-\t-\t-\t";
    } else {
      out << tiv::disk::PageTypeText(tiv::disk::GetU16(buf.data() + tiv::disk::kPgType)) << "\t"
          << tiv::disk::GetI32(buf.data() + tiv::disk::kPgVersion) << "\t"
          << tiv::disk::GetI32(buf.data() + tiv::disk::kPgNextPageNo) << "\t"
          << tiv::disk::GetI32(buf.data() + tiv::disk::kPgOwnerTableID) << "\t";
    }
    out << (fsm.IsPageUsed(n) ? "used" : "free") << "\n";
  }
  std::cout << out.str();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() < 2) throw UsageError{""};
    const std::string command = args[0];
    const std::string file = args[1];
    std::vector<std::string> options(args.begin() + 2, args.end());
    if (command == "create-table" || command == "import") SetDurableCommits(TakeFlag(options, "--durable"));
    if (command == "create") return Create(file, options);
    if (command == "info") return Info(file, options);
    if (command == "pages") return Pages(file, options);
    if (command == "create-table") return CreateTableCommand(file, TakePassword(options), options);
    if (command == "import") return ImportCommand(file, TakePassword(options), options);
    if (command == "tables") return TablesCommand(file, TakePassword(options), options);
    if (command == "schema") return SchemaCommand(file, TakePassword(options), options);
    if (command == "dump") return DumpCommand(file, TakePassword(options), options);
    if (command == "check") return CheckCommand(file, TakePassword(options), options);
    if (command == "repair") return RepairCommand(file, TakePassword(options), options);
    throw UsageError{"unknown command: " + command};
  } catch (const UsageText& e) {
    std::cerr << "zudadmin: " << e.text << "\n";
    PrintUsage(std::cerr);
    return kExitUsage;
  } catch (const UsageError& e) {
    if (!e.text.empty()) std::cerr << "zudadmin: " << e.text << "\n";
    PrintUsage(std::cerr);
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "zudadmin: " << e.what() << "\n";
    return kExitError;
  }
}
