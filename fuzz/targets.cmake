# The fuzz targets and the libraries each one exercises; shared by the
# libFuzzer build (fuzz/) and the corpus replay tests (tests/fuzz/).
set(lumo_fuzz_targets
  unpack_stream
  container_walk
  installer_layout
  round_trip
  setup_script
  pe_version_resource
  wine_registry
  stream_install
)
set(lumo_fuzz_libs_unpack_stream lumo_payload)
set(lumo_fuzz_libs_container_walk lumo_payload)
set(lumo_fuzz_libs_installer_layout lumo_payload)
set(lumo_fuzz_libs_round_trip lumo_encoder lumo_payload)
set(lumo_fuzz_libs_setup_script lumo_setup_script)
set(lumo_fuzz_libs_pe_version_resource lumo_platform_posix)
set(lumo_fuzz_libs_wine_registry lumo_platform_posix)
set(lumo_fuzz_libs_stream_install lumo_extraction lumo_platform_fake)
