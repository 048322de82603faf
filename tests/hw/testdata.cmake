# Fonts and pictures the hardware tests read from ${HW_TEST_DATA}.

# The pixel pattern of the generated pictures; pixel_pattern.h computes the same colours.
function(hw_pattern_ppm path width height)
  set(text "P3\n${width} ${height}\n255\n")
  math(EXPR last_x "${width} - 1")
  math(EXPR last_y "${height} - 1")
  foreach(y RANGE ${last_y})
    foreach(x RANGE ${last_x})
      math(EXPR r "(${x} * 40 + 10) % 256")
      math(EXPR g "(${y} * 50 + 5) % 256")
      math(EXPR b "((${x} * 7 + ${y} * 13) * 3) % 256")
      string(APPEND text "${r} ${g} ${b}\n")
    endforeach()
  endforeach()
  file(WRITE ${path} "${text}")
endfunction()

# A font of one glyph 'A', width x rows, row r = 0x80 >> (r % 8) repeated over the bytes.
function(hw_tall_font_bdf path width rows)
  math(EXPR bytes "(${width} + 7) / 8")
  set(glyph "")
  math(EXPR last "${rows} - 1")
  foreach(r RANGE ${last})
    math(EXPR bit "${r} % 8")
    math(EXPR value "128 >> ${bit}")
    math(EXPR hex "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${hex}" 2 -1 hex)
    string(LENGTH "${hex}" length)
    if(length EQUAL 1)
      set(hex "0${hex}")
    endif()
    string(REPEAT "${hex}" ${bytes} line)
    string(APPEND glyph "${line}\n")
  endforeach()
  math(EXPR ascent "${rows} - 2")
  file(WRITE ${path} "STARTFONT 2.1
FONT -test-tall-medium-r-normal--${rows}-120-75-75-c-80-iso10646-1
SIZE ${rows} 75 75
FONTBOUNDINGBOX ${width} ${rows} 0 -2
STARTPROPERTIES 6
PIXEL_SIZE ${rows}
AVERAGE_WIDTH ${width}0
FONT_ASCENT ${ascent}
FONT_DESCENT 2
CHARSET_REGISTRY \"ISO10646\"
CHARSET_ENCODING \"1\"
ENDPROPERTIES
CHARS 1
STARTCHAR A
ENCODING 65
SWIDTH 615 0
DWIDTH ${width} 0
BBX ${width} ${rows} 0 -2
BITMAP
${glyph}ENDCHAR
ENDFONT
")
endfunction()

set(hw_outputs "")

function(hw_pcf name bdf)
  add_custom_command(OUTPUT ${HW_TEST_DATA}/${name}.pcf
    COMMAND ${BDFTOPCF_EXECUTABLE} -p4 -o ${HW_TEST_DATA}/${name}.pcf ${bdf}
    DEPENDS ${bdf} VERBATIM)
  set(hw_outputs ${hw_outputs} ${HW_TEST_DATA}/${name}.pcf PARENT_SCOPE)
endfunction()

hw_tall_font_bdf(${HW_TEST_DATA}/tall.bdf 8 200)
hw_tall_font_bdf(${HW_TEST_DATA}/wide.bdf 40 13)
hw_pcf(cells ${CMAKE_CURRENT_SOURCE_DIR}/data/cells.bdf)
hw_pcf(tall ${HW_TEST_DATA}/tall.bdf)
hw_pcf(wide ${HW_TEST_DATA}/wide.bdf)
file(WRITE ${HW_TEST_DATA}/not-a-font.pcf.gz "This is a text file, not a font.\n")

# convert PPM OPTIONS... BMP3:name.bmp
function(hw_bmp name ppm)
  add_custom_command(OUTPUT ${HW_TEST_DATA}/${name}.bmp
    COMMAND ${CONVERT_EXECUTABLE} ${ppm} ${ARGN} BMP3:${HW_TEST_DATA}/${name}.bmp
    DEPENDS ${ppm} VERBATIM)
  set(hw_outputs ${hw_outputs} ${HW_TEST_DATA}/${name}.bmp PARENT_SCOPE)
endfunction()

foreach(size 1x3 2x3 3x3 4x3 5x2 10x10 128x128)
  string(REPLACE "x" ";" dims ${size})
  list(GET dims 0 w)
  list(GET dims 1 h)
  if(NOT EXISTS ${HW_TEST_DATA}/pattern_${size}.ppm)
    hw_pattern_ppm(${HW_TEST_DATA}/pattern_${size}.ppm ${w} ${h})
  endif()
  hw_bmp(pattern_${size} ${HW_TEST_DATA}/pattern_${size}.ppm -type TrueColor)
endforeach()
# An 8-bit palette picture, uncompressed.
hw_bmp(palette ${HW_TEST_DATA}/pattern_128x128.ppm -colors 200 -type Palette -compress None)

add_custom_target(hw_test_data DEPENDS ${hw_outputs})
