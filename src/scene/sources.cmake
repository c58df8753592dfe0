list(APPEND ZM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/design_checks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/emitter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hydra.cpp
  ${CMAKE_CURRENT_LIST_DIR}/material_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wall.cpp
)
