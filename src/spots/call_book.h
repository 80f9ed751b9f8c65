// What the amateur radio data files say about calls: which entity (DXCC
// country) a call's prefix belongs to, from a CT country file (cty.dat), and
// whether a call is an active contest call, from a super check partial list
// (MASTER.SCP). Debian's hamradio-files installs both.
//
// A cty.dat holds one record per entity: a header line
//   Germany:  14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:
// (name, CQ zone, ITU zone, continent, latitude, longitude, UTC offset,
// primary prefix - "*" before it marks an entity of one award list only),
// then its prefixes and exact calls, comma separated over any number of
// lines and ended by ";". "=CALL" is a whole call; an entry may carry
// overrides after it - (CQ zone) [ITU zone] <lat/lon> {continent} ~offset~ -
// which name the same entity.
//
// A call's entity: its whole form if listed as an exact call, else the
// longest listed prefix of the part of the call that says where it is: the
// call itself, or for a portable call the shorter side ("DL/G4ABC",
// "G4ABC/DL": DL) once an indicator after it (/P /M /MM /AM /QRP /A /B, a
// digit) is set aside.
//
// Nothing here reads files: the caller hands over the files' texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace talvo::spots {

// Where the data files are installed on Debian.
inline constexpr const char* kCtyPath = "/usr/share/hamradio-files/cty.dat";
inline constexpr const char* kScpPath = "/usr/share/hamradio-files/MASTER.SCP";

// One DXCC entity of a country file.
struct Entity {
  std::string name;       // "Germany"
  std::string prefix;     // primary prefix, "DL"
  int cq_zone = 0;        // CQ zone
  int itu_zone = 0;       // ITU zone
  std::string continent;  // "EU", "NA", ...
};

class CountryFile {
 public:
  // Reads the text of a cty.dat. Returns the empty string when it was read,
  // else what is wrong, with the line number (the file is then empty).
  std::string parse(std::string_view text);

  // The entity of an upper case call ("DL1ABC", "DL/G4ABC", "K5MR/P"), or
  // null when its prefix belongs to none.
  const Entity* entity_of(std::string_view call) const;

  std::size_t entities() const { return entities_.size(); }

 private:
  const Entity* longest_prefix(std::string_view part) const;

  std::vector<Entity> entities_;
  std::unordered_map<std::string, int> prefixes_;  // prefix -> index into entities_
  std::unordered_map<std::string, int> exact_;     // whole call -> index into entities_
  std::size_t longest_ = 0;                        // longest prefix, characters
};

class CallList {
 public:
  // Reads the text of a MASTER.SCP: one call a line, "#" lines are comments.
  // Returns the empty string when it was read, else what is wrong.
  std::string parse(std::string_view text);

  // Whether the upper case call is in the list.
  bool contains(std::string_view call) const;

  std::size_t size() const { return calls_.size(); }

 private:
  std::unordered_set<std::string> calls_;
};

// Both files, each one present or not.
class CallBook {
 public:
  // Takes the texts of cty.dat and MASTER.SCP, each null when the file could
  // not be read. Returns a notice for the user - what is missing or wrong
  // and that calls are then checked by their shape alone (entity) or all
  // taken as unknown (list) - or the empty string when both were read.
  std::string load(const std::string* cty_text, const std::string* scp_text);

  bool has_countries() const { return has_cty_; }
  bool has_calls() const { return has_scp_; }

  // Whether a call may be spotted: its prefix is an entity's (every call
  // when there is no country file).
  bool valid(std::string_view call) const;
  // The call's entity, null without one or without a country file.
  const Entity* entity_of(std::string_view call) const;
  // Whether the call (or, for a portable call, its home call) is in the list.
  bool known(std::string_view call) const;

 private:
  CountryFile cty_;
  CallList scp_;
  bool has_cty_ = false, has_scp_ = false;
};

// The home call of a portable call: "DL/G4ABC", "G4ABC/P", "DL/G4ABC/P" give
// "G4ABC"; a plain call is itself.
std::string_view home_call(std::string_view call);

}  // namespace talvo::spots
