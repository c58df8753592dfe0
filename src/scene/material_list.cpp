#include "scene/material_list.h"

#include <utility>

#include "support/text.h"

namespace zm {

TMaterial::TMaterial(const TDesignRecord& design, int index) {
  const TMaterialEntry& entry = design.Materials[index];
  Name = ReadFixedText(entry.Name);
  Reflection = entry.Reflection;
  Scatter = entry.Scatter;
  for (int b = 0; b < kBandCount; ++b) BandFactors[b] = entry.BandFactors[b];
}

TMaterial::TMaterial(std::string name) : Name(std::move(name)) {}

TMaterialListItem::TMaterialListItem(const TDesignRecord& design, int index)
    : Material(std::make_unique<TMaterial>(design, index)) {}

TMaterialListItem::TMaterialListItem(std::string name)
    : Material(std::make_unique<TMaterial>(std::move(name))) {}

TMaterialList::TMaterialList() = default;
TMaterialList::~TMaterialList() = default;

const TMaterial& TMaterialList::AddFromRecord(const TDesignRecord& design, int index) {
  auto item = std::make_unique<TMaterialListItem>(design, index);
  // Look first, so that a refused item is simply dropped with its material
  // and the list is left exactly as it was.
  if (items_.find(*item) != items_.end()) {
    throw EDuplicateError(Format(msg::bbtree::sDuplicateItem));
  }
  const TMaterial& material = *item->Material;
  items_.insert(std::move(item));
  return material;
}

const TMaterial& TMaterialList::Find(const std::string& name) const {
  const TMaterialListItem key(name);
  const TMaterialListItem* found = Search(key);
  if (!found) throw ENotFound(Format(msg::material::sMaterialNotFound, {name}));
  return *found->Material;
}

const TMaterialListItem* TMaterialList::Search(const TMaterialListItem& key) const {
  auto it = items_.find(key);
  return it == items_.end() ? nullptr : it->get();
}

int32_t TMaterialList::Count() const {
  return static_cast<int32_t>(items_.size());
}

int32_t TMaterialList::Compare(const TMaterialListItem& a, const TMaterialListItem& b) {
  const std::string& x = a.Material->Name;
  const std::string& y = b.Material->Name;
  if (x.empty()) return y.empty() ? 0 : -1;
  if (y.empty()) return 1;
  // Walk up to and including the end of the shorter name: its end reads as
  // a zero byte, so a proper prefix sorts first.
  const size_t shorter = x.size() < y.size() ? x.size() : y.size();
  for (size_t i = 0; i <= shorter; ++i) {
    const int cx = i < x.size() ? static_cast<unsigned char>(x[i]) : 0;
    const int cy = i < y.size() ? static_cast<unsigned char>(y[i]) : 0;
    if (cx != cy) return cx - cy;
  }
  return 0;
}

}  // namespace zm
