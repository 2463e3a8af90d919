#!/usr/bin/env bash
# MsiWin32Test.sh FOLDER: builds the packages MsiWin32Test installs under
# Wine (wixl and msibuild from msitools) into FOLDER; run the test with
# STUB_TEST_MSI_DIR=FOLDER.
set -eu
out=$(realpath -m "$1")
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'app 1\n' > app.txt

# package NAME CODE VERSION COMPONENT-GUID [EXTRA-XML]: a per-machine x64
# product with one file (a non-ASCII name) and one registry value that
# records the REINSTALLMODE it was written with.
package() {
    cat > "$1.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$2" Name="Brindlemark Café" Language="1033" Codepage="1252" Version="$3"
           Manufacturer="Zelvo" UpgradeCode="{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A10}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    ${5:-}
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="Brindlemark Win32 Test">
          <Component Id="App" Guid="$4" Win64="yes">
            <File Id="app" Name="café.txt" Source="app.txt" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="Software\\Zelvo\\MsiWin32Test\\$3"
                           Name="Mode" Type="string" Value="[REINSTALLMODE]"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="App"/></Feature>
  </Product>
</Wix>
WXS
    wixl -a x64 -o "$out/$1.msi" "$1.wxs"
}

package product '{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A01}' 1.0.0 \
    '{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A02}'
package blocked '{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A03}' 2.0.0 \
    '{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A04}' \
    '<Condition Message="Brindlemark needs NEEDEDTHING">Installed OR NEEDEDTHING</Condition>'

# A Property table and nothing else, with a value longer than readers take.
rm -f "$out/bare.msi"
msibuild "$out/bare.msi" \
    -q 'CREATE TABLE Property (Property CHAR(72) NOT NULL, Value LONGCHAR NOT NULL PRIMARY KEY Property)' \
    -q "INSERT INTO Property (Property, Value) VALUES ('Version', '2.5')" \
    -q "INSERT INTO Property (Property, Value) VALUES ('Long', '$(printf 'v%.0s' $(seq 300))')"
