// A client's bytes to the node's answers; see telnet_session.h.
#include "net/telnet_session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/utc_time.h"

namespace talvo {
namespace {

constexpr unsigned char kIac = 255, kSb = 250, kSe = 240, kWill = 251, kDont = 254;
constexpr std::size_t kMaxCall = 16;  // longest call taken at login, characters
constexpr int kMaxShow = 1000;        // spots sh/dx gives at most

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::string_view trim(std::string_view s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// Letters, digits and "/" with a digit and a letter, then perhaps -SSID.
bool callsign_like(std::string_view c) {
  if (c.size() < 3 || c.size() > kMaxCall) return false;
  const std::size_t dash = c.find('-');
  std::string_view base = c.substr(0, dash);
  if (dash != std::string_view::npos) {
    const std::string_view ssid = c.substr(dash + 1);
    if (ssid.empty() || ssid.size() > 2) return false;
    for (char ch : ssid)
      if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
  }
  bool digit = false, letter = false;
  for (char ch : base) {
    const auto u = static_cast<unsigned char>(ch);
    digit = digit || std::isdigit(u);
    letter = letter || std::isalpha(u);
    if (!std::isalnum(u) && ch != '/') return false;
  }
  return digit && letter && base.front() != '/' && base.back() != '/';
}

// "08-Dec-2026" and "1854Z" of a UTC time.
std::string cluster_date(std::int64_t utc) {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string iso = format_utc(utc);  // YYYY-MM-DDTHH:MM:SSZ
  const int month = std::atoi(iso.substr(5, 2).c_str());
  return iso.substr(8, 2) + "-" + kMonths[month - 1] + "-" + iso.substr(0, 4);
}

std::string prompt_line(const std::string& call, std::int64_t now_utc) {
  const std::string iso = format_utc(now_utc);
  return call + " de TALVO " + cluster_date(now_utc) + " " + iso.substr(11, 2) + iso.substr(14, 2) +
         "Z >\r\n";
}

}  // namespace

void SpotHistory::add(HeldSpot s) {
  if (capacity_ == 0) return;
  if (spots_.size() >= capacity_) spots_.pop_front();
  spots_.push_back(std::move(s));
}

std::string cc11_line(std::string_view line, std::int64_t utc) {
  // DX de SPOTTER-#:  FREQ  CALL  comment...  HHMMZ
  if (line.substr(0, 6) != "DX de ") return "";
  const std::size_t colon = line.find(':', 6);
  if (colon == std::string_view::npos) return "";
  const std::string spotter(line.substr(6, colon - 6));
  std::vector<std::string_view> words;
  for (std::size_t p = colon + 1; p < line.size();) {
    const std::size_t a = line.find_first_not_of(' ', p);
    if (a == std::string_view::npos) break;
    const std::size_t b = std::min(line.find(' ', a), line.size());
    words.push_back(line.substr(a, b - a));
    p = b;
  }
  if (words.size() < 4) return "";
  const std::string_view time = words.back();
  if (time.size() != 5 || time.back() != 'Z') return "";
  std::string comment;
  for (std::size_t i = 2; i + 1 < words.size(); i++)
    comment += (comment.empty() ? "" : " ") + std::string(words[i]);
  const std::string date = utc >= 0 ? cluster_date(utc) : "";
  return "CC11^" + std::string(words[0]) + "^" + std::string(words[1]) + "^" + date + "^" +
         std::string(time) + "^" + comment + "^" + spotter + "^^^TALVO";
}

std::string TelnetSession::render(const HeldSpot& s) const {
  if (format_ == Format::kCc11) {
    const std::string cc = cc11_line(s.line, s.utc);
    if (!cc.empty()) return cc + "\r\n";
  }
  return s.line + "\r\n";
}

// Steps telnet's command sequences; true when `b` is data.
bool TelnetSession::telnet_byte(unsigned char b) {
  switch (command_) {
    case Command::kAfterIac:
      command_ = b >= kWill && b <= kDont ? Command::kOption
                 : b == kSb               ? Command::kSubneg
                                          : Command::kData;
      // IAC IAC is a data byte 255, which no command holds.
      return false;
    case Command::kOption:
      command_ = Command::kData;
      return false;
    case Command::kSubneg:
      if (b == kIac) command_ = Command::kSubnegIac;
      return false;
    case Command::kSubnegIac:
      command_ = b == kSe ? Command::kData : Command::kSubneg;
      return false;
    case Command::kData:
      break;
  }
  if (b == kIac) {
    command_ = Command::kAfterIac;
    return false;
  }
  return true;
}

bool TelnetSession::take(const unsigned char* p, std::size_t n, const SpotHistory& history,
                         std::int64_t now_utc, std::string& out) {
  for (std::size_t i = 0; i < n && !leaving_; i++) {
    const unsigned char b = p[i];
    if (!telnet_byte(b) || b == 0) continue;  // b == 0: telnet's CR NUL
    const bool after_cr = cr_;
    cr_ = b == '\r';
    if (b == '\n' && after_cr) continue;
    if (b == '\r' || b == '\n') {
      line(history, now_utc, out);
      input_.clear();
    } else if (b == 8 || b == 127) {
      if (!input_.empty()) input_.pop_back();
    } else if (b == '\t') {
      if (input_.size() < kMaxLine) input_.push_back(' ');
    } else if (b >= 32 && b < 127 && input_.size() < kMaxLine) {
      input_.push_back(static_cast<char>(b));
    }
  }
  return !leaving_;
}

void TelnetSession::line(const SpotHistory& history, std::int64_t now_utc, std::string& out) {
  const std::string_view text = trim(input_);
  if (logged_in_)
    command(text, history, now_utc, out);
  else
    login(text, out);
}

void TelnetSession::login(std::string_view text, std::string& out) {
  if (text.empty()) {
    out += kPrompt;
    return;
  }
  const std::string call = upper(text);
  if (!callsign_like(call)) {
    out += "Sorry, '" + call.substr(0, kMaxCall) + "' is not a callsign.\r\n";
    out += kPrompt;
    return;
  }
  call_ = call;
  logged_in_ = true;
  out += "Hello " + call_ + ", this is TALVO, a CW skimmer.\r\n";
}

void TelnetSession::command(std::string_view text, const SpotHistory& history, std::int64_t now_utc,
                            std::string& out) {
  const std::string cmd = upper(text);
  const std::size_t sp = cmd.find(' ');
  const std::string verb = cmd.substr(0, sp);
  const std::string arg(trim(sp == std::string::npos ? "" : std::string_view(cmd).substr(sp)));
  if (cmd.empty()) {
    out += prompt_line(call_, now_utc);
  } else if ((verb == "SH/DX" || verb == "SHOW/DX") &&
             (arg.empty() || arg.find_first_not_of("0123456789") == std::string::npos)) {
    int want = kDefaultShow;
    if (!arg.empty()) want = arg.size() > 4 ? kMaxShow : std::min(std::atoi(arg.c_str()), kMaxShow);
    const auto& all = history.spots();
    const std::size_t n = std::min(all.size(), static_cast<std::size_t>(want));
    for (std::size_t i = all.size() - n; i < all.size(); i++)
      out += render(all[i]);
  } else if (cmd == "SET/SKIMMER") {
    skimmer_ = true;
    out += "Skimmer spots enabled for " + call_ + "\r\n";
  } else if (cmd == "UNSET/SKIMMER") {
    skimmer_ = false;
    out += "Skimmer spots disabled for " + call_ + "\r\n";
  } else if (cmd == "SET/NOFILTER") {
    out += "No filter set for " + call_ + ": every spot passes\r\n";
  } else if (cmd == "SET/VE7CC") {
    format_ = Format::kCc11;
    out += "CC11 spot format set for " + call_ + "\r\n";
  } else if (cmd == "UNSET/VE7CC") {
    format_ = Format::kDx;
    out += "DX spot format set for " + call_ + "\r\n";
  } else if (cmd == "SH/TIME" || cmd == "SHOW/TIME") {
    const std::string iso = format_utc(now_utc);
    out += cluster_date(now_utc) + " " + iso.substr(11, 8) + " UTC\r\n";
  } else if (cmd == "BYE" || cmd == "QUIT") {
    out += "73 de TALVO, " + call_ + "\r\n";
    leaving_ = true;
  } else {
    out += "*** unknown command: " + std::string(text.substr(0, 40)) + "\r\n";
  }
}

}  // namespace talvo
