// MaskEngine: collects masks as keys, compiles them at Finalize.
#pragma once

#include <memory>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/mask_engine.h"
#include "mask_engine/mask_keys.h"
#include "mask_engine/node_layout.h"

namespace mask_engine {

class MaskEngineImpl final : public MaskEngine, public std::enable_shared_from_this<MaskEngineImpl> {
 public:
  MaskEngineImpl();

  AddMaskResult AddMask(const char* text, uint32_t length) override;
  void Finalize() override;
  std::shared_ptr<MaskMatcher> CreateMatcher() const override;
  MaskEngineStats Stats() const override;

  bool Finalized() const { return m_build == nullptr; }
  const node_layout* Layout() const { return m_layout.get(); }

 private:
  // Everything only needed until Finalize.
  struct BuildContext {
    BuildContext();
    std::vector<uint32_t> symbols;
    KeyScratch scratch;
    KeyList keys;
  };

  std::vector<char> m_texts;
  std::vector<uint64_t> m_offsets{0};
  std::vector<bool> m_domainFlags;
  std::unique_ptr<node_layout> m_layout;
  std::unique_ptr<BuildContext> m_build;
  uint64_t m_keyCount = 0;
};

}  // namespace mask_engine
