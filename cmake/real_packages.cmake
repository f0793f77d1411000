# Real companion packages for the package road's tests, built with the tools
# vendors use: NSIS (makensis) and Windows Installer (wixl, from msitools),
# from the sources in tests/packages/real. The tests install each into the
# prefix with its own installer and uninstall it through the library.
find_program(KYD_MAKENSIS makensis REQUIRED)
find_program(KYD_WIXL wixl REQUIRED)
set(KYD_REAL_PACKAGES ${CMAKE_BINARY_DIR}/realpkg)
set(_real ${CMAKE_SOURCE_DIR}/tests/packages/real)
set(_outputs "")

# name | display name | Uninstall subkey | makensis options
set(_nsis
  "nsis-wizard|IDT Kyd Nsis Wizard|KydNsisWizard|-DPAUSE=12000"
  "nsis-quiet|Kyd Nsis Quiet|KydNsisQuiet|-DQUIET"
  "nsis-plain|Kyd Nsis Plain|KydNsisPlain|")
foreach(entry ${_nsis})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 display)
  list(GET parts 2 key)
  list(LENGTH parts n)
  set(options "")
  if(n GREATER 3)
    list(GET parts 3 options)
  endif()
  add_custom_command(OUTPUT ${KYD_REAL_PACKAGES}/${name}.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KYD_REAL_PACKAGES}
    COMMAND ${KYD_MAKENSIS} -V2 "-DNAME=${display}" -DKEY=${key} -DOUT=${KYD_REAL_PACKAGES}/${name}.exe ${options}
            ${_real}/kydnsis.nsi
    DEPENDS ${_real}/kydnsis.nsi
    COMMENT "makensis ${name}.exe")
  list(APPEND _outputs ${KYD_REAL_PACKAGES}/${name}.exe)
endforeach()

# name | product code | upgrade code | product name and folder | asks for a restart
set(_msi
  "msi-panel|{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A31}|{0E4B1E0E-6C8B-4A53-8D1F-2B2A7C6F9A31}|Kyd Msi Panel|0"
  "msi-restart|{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A32}|{0E4B1E0E-6C8B-4A53-8D1F-2B2A7C6F9A32}|Kyd Msi Restart|1")
foreach(entry ${_msi})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 code)
  list(GET parts 2 upgrade)
  list(GET parts 3 display)
  list(GET parts 4 restart)
  add_custom_command(OUTPUT ${KYD_REAL_PACKAGES}/${name}.msi
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KYD_REAL_PACKAGES}
    COMMAND ${KYD_WIXL} -D Code=${code} -D Upgrade=${upgrade} -D "Name=${display}" -D "Folder=${display}"
            -D Restart=${restart} -o ${KYD_REAL_PACKAGES}/${name}.msi kydmsi.wxs
    DEPENDS ${_real}/kydmsi.wxs
    WORKING_DIRECTORY ${_real}
    COMMENT "wixl ${name}.msi")
  list(APPEND _outputs ${KYD_REAL_PACKAGES}/${name}.msi)
endforeach()

add_custom_target(real_packages DEPENDS ${_outputs})
