# The icon has one design, data/vantrel-filter.svg; every picture of it is
# rendered from that at build time: the window's icon, the package's PNGs and
# the Windows program file's .ico.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(MAGICK_CONVERT convert REQUIRED)
set(VANTREL_ICON_SVG "${PROJECT_SOURCE_DIR}/data/vantrel-filter.svg")

# A step, in the calling folder, that renders the design as a SIZE x SIZE
# PNG at OUTPUT.
function(vantrel_render_icon output size)
    get_filename_component(folder "${output}" DIRECTORY)
    add_custom_command(OUTPUT "${output}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
        COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o "${output}" "${VANTREL_ICON_SVG}"
        DEPENDS "${VANTREL_ICON_SVG}" VERBATIM)
endfunction()
