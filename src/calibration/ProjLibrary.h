#pragma once

#include <proj.h>

// The functions of PROJ that the program calls.
// clang-format off
#define VELMORA_PROJ_FUNCTIONS(F)            \
  F(proj_as_wkt)                             \
  F(proj_context_create)                     \
  F(proj_context_destroy)                    \
  F(proj_create)                             \
  F(proj_crs_get_coordinate_system)          \
  F(proj_crs_info_list_destroy)              \
  F(proj_cs_get_axis_count)                  \
  F(proj_cs_get_axis_info)                   \
  F(proj_destroy)                            \
  F(proj_get_crs_info_list_from_database)    \
  F(proj_get_crs_list_parameters_create)     \
  F(proj_get_crs_list_parameters_destroy)    \
  F(proj_get_id_auth_name)                   \
  F(proj_get_id_code)                        \
  F(proj_get_name)                           \
  F(proj_get_source_crs)                     \
  F(proj_get_type)                           \
  F(proj_log_level)
// clang-format on

// PROJ as this program uses it. The library is loaded on first use, not with the program: only a
// grid placed on the map needs it, and loading it with its thirty-odd libraries (the network and
// encryption ones among them, which set themselves up as they load) would slow the start of every
// command and of the window.
struct TProjApi {
#define VELMORA_PROJ_POINTER(name) decltype(&::name) name = nullptr;
  VELMORA_PROJ_FUNCTIONS(VELMORA_PROJ_POINTER)
#undef VELMORA_PROJ_POINTER
};

// The loaded library; raises, naming the library and the cause, when it cannot be loaded.
const TProjApi& Proj();
