// Wall materials, kept in a list keyed by name.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "scene/options.h"
#include "support/exception.h"
#include "zm/zm.h"

namespace zm {

class TMaterial {
 public:
  TMaterial(const TDesignRecord& design, int index);  // from a material slot
  explicit TMaterial(std::string name);               // a search key

  std::string Name;
  double Reflection = 0.0;
  double Scatter = 0.0;
  double BandFactors[kBandCount] = {};
};

class EDuplicateError : public Exception {
  using Exception::Exception;
};
class ENotFound : public Exception {
  using Exception::Exception;
};

namespace msg::bbtree {
inline constexpr MessageText sDuplicateItem{"Duplicate BBTree item"};
}  // namespace msg::bbtree
namespace msg::material {
inline constexpr MessageText sMaterialNotFound{"Material \"%s\" not found"};
}  // namespace msg::material

// Owns one material; the list's element.
class TMaterialListItem {
 public:
  TMaterialListItem(const TDesignRecord& design, int index);
  explicit TMaterialListItem(std::string name);  // a search key

  std::unique_ptr<TMaterial> Material;
};

// The used materials of a design, ordered by name (empty names first, then
// bytewise unsigned, case-sensitive). Owns its items.
class TMaterialList {
 public:
  TMaterialList();
  ~TMaterialList();

  // Adds the material of a slot; EDuplicateError when the name is taken.
  const TMaterial& AddFromRecord(const TDesignRecord& design, int index);
  // The material of that name; ENotFound when there is none.
  const TMaterial& Find(const std::string& name) const;
  // The item equal to the key, or null: for lookups where absence is fine.
  const TMaterialListItem* Search(const TMaterialListItem& key) const;
  int32_t Count() const;

  // Orders two items by the names of their materials.
  static int32_t Compare(const TMaterialListItem& a, const TMaterialListItem& b);

 private:
  // Orders owned items, and lets a bare key item search without being
  // wrapped in an owning pointer.
  struct Less {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<TMaterialListItem>& a,
                    const std::unique_ptr<TMaterialListItem>& b) const {
      return Compare(*a, *b) < 0;
    }
    bool operator()(const std::unique_ptr<TMaterialListItem>& a, const TMaterialListItem& b) const {
      return Compare(*a, b) < 0;
    }
    bool operator()(const TMaterialListItem& a, const std::unique_ptr<TMaterialListItem>& b) const {
      return Compare(a, *b) < 0;
    }
  };
  std::set<std::unique_ptr<TMaterialListItem>, Less> items_;
};

}  // namespace zm
