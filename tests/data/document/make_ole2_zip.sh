#!/bin/sh
# Makes the compound-document and ZIP-family fixtures of the document tests:
# office files written by the office suite in headless mode (doc, xls, ppt,
# docx, xlsx, pptx, odt, ods, odp, odg), a plain zip, a jar with a manifest,
# and an installer database written by msibuild.
# Needs: soffice, zip, jar, msibuild. Run from anywhere; writes next to itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'Recovered text sample.\nSecond line of the sample.\n' > text.txt
printf 'Item,Count\nApples,3\nPears,5\n' > table.csv

cat > slides.fodp <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation>
  <draw:page draw:name="One">
   <draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm">
    <draw:text-box><text:p>Slide sample</text:p></draw:text-box>
   </draw:frame>
  </draw:page>
 </office:presentation></office:body>
</office:document>
XML

cat > drawing.fodg <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.graphics">
 <office:body><office:drawing>
  <draw:page draw:name="One">
   <draw:rect svg:x="2cm" svg:y="2cm" svg:width="5cm" svg:height="4cm"/>
  </draw:page>
 </office:drawing></office:body>
</office:document>
XML

office() {
  soffice -env:UserInstallation=file://"$work"/profile --headless --convert-to "$1" --outdir "$work/out" "$2" >/dev/null 2>&1
}
office 'doc:MS Word 97' text.txt
office 'docx:MS Word 2007 XML' text.txt
office 'odt:writer8' text.txt
office 'xls:MS Excel 97' table.csv
office 'xlsx:Calc MS Excel 2007 XML' table.csv
office 'ods:calc8' table.csv
office 'ppt:MS PowerPoint 97' slides.fodp
office 'pptx:Impress MS PowerPoint 2007 XML' slides.fodp
office 'odp:impress8' slides.fodp
office 'odg:draw8' drawing.fodg
cp out/text.doc "$here/text.doc"
cp out/text.docx "$here/text.docx"
cp out/text.odt "$here/text.odt"
cp out/table.xls "$here/table.xls"
cp out/table.xlsx "$here/table.xlsx"
cp out/table.ods "$here/table.ods"
cp out/slides.ppt "$here/slides.ppt"
cp out/slides.pptx "$here/slides.pptx"
cp out/slides.odp "$here/slides.odp"
cp out/drawing.odg "$here/drawing.odg"

# A plain archive of two text files (names that mark no sub-type).
mkdir plain
printf 'first file of the archive\n' > plain/alpha.txt
seq 1 400 > plain/numbers.txt
(cd plain && zip -q -X "$work/sample.zip" alpha.txt numbers.txt)
cp sample.zip "$here/archive.zip"

# A jar with a manifest.
mkdir -p jarsrc/pkg
printf 'Main-Class: pkg.Main\n' > manifest.txt
printf 'placeholder class data\n' > jarsrc/pkg/Main.class
jar cfm sample.jar manifest.txt -C jarsrc pkg
cp sample.jar "$here/manifest.jar"

# An installer database with a property table and its validation table.
msi="$work/sample.msi"
msibuild "$msi" -s "Sample installer" "Example Team" "Intel;1033" "{12345678-1234-1234-1234-123456789012}"
msibuild "$msi" -q "CREATE TABLE \`Property\` (\`Property\` CHAR(72) NOT NULL, \`Value\` CHAR(0) NOT NULL LOCALIZABLE PRIMARY KEY \`Property\`)"
msibuild "$msi" -q "CREATE TABLE \`_Validation\` (\`Table\` CHAR(32) NOT NULL, \`Column\` CHAR(32) NOT NULL, \`Nullable\` CHAR(4) NOT NULL, \`MinValue\` LONG, \`MaxValue\` LONG, \`KeyTable\` CHAR(255), \`KeyColumn\` SHORT, \`Category\` CHAR(32), \`Set\` CHAR(255), \`Description\` CHAR(255) PRIMARY KEY \`Table\`, \`Column\`)"
msibuild "$msi" -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('ProductName', 'Sample')"
msibuild "$msi" -q "INSERT INTO \`_Validation\` (\`Table\`, \`Column\`, \`Nullable\`, \`Category\`, \`Description\`) VALUES ('Property', 'Property', 'N', 'Identifier', 'Name of property')"
cp "$msi" "$here/installer.msi"
