// The stamping benchmark's job done with mutool's scripting interface:
//   mutool run mutool_stamp.js IN OUT
// Every page's content is wrapped in q ... Q by two new streams around the
// page's own streams (which stay as they are), and a third new stream draws
// CONFIDENTIAL in Helvetica 36 pt, red, at opacity 0.5, rotated 45 degrees
// about (72, 300). The font and the graphics state are one object each,
// shared by all pages.
if (scriptArgs.length !== 2) throw new Error("usage: mutool run mutool_stamp.js IN OUT");
var doc = new PDFDocument(scriptArgs[0]);

var fontDict = doc.newDictionary();
fontDict.put("Type", doc.newName("Font"));
fontDict.put("Subtype", doc.newName("Type1"));
fontDict.put("BaseFont", doc.newName("Helvetica"));
fontDict.put("Encoding", doc.newName("WinAnsiEncoding"));
var font = doc.addObject(fontDict);

var gsDict = doc.newDictionary();
gsDict.put("Type", doc.newName("ExtGState"));
gsDict.put("ca", 0.5);
gsDict.put("CA", 0.5);
var gstate = doc.addObject(gsDict);

var stampText = "q /GSstamp gs 0.7843 0 0 rg\n" +
    "0.707107 0.707107 -0.707107 0.707107 72 300 cm\n" +
    "BT /Fstamp 36 Tf (CONFIDENTIAL) Tj ET Q\n";

// Returns whether a looked-up value is absent (mutool gives undefined for a
// missing key) or the null object.
function missing(o) {
  return o === undefined || o === null || o.isNull();
}

// Returns the page's resource dictionary, taking an inherited one onto the
// page itself so that what is added applies to this page only.
function pageResources(page) {
  var res = page.get("Resources");
  if (!missing(res)) return res;
  for (var node = page.get("Parent"); !missing(node); node = node.get("Parent")) {
    var inherited = node.get("Resources");
    if (!missing(inherited)) {
      res = doc.newDictionary();
      inherited.forEach(function (value, key) { res.put(key, value); });
      page.put("Resources", res);
      return res;
    }
  }
  res = doc.newDictionary();
  page.put("Resources", res);
  return res;
}

// Returns the sub-dictionary `key` of res, made when absent.
function subDictionary(res, key) {
  var d = res.get(key);
  if (missing(d)) {
    d = doc.newDictionary();
    res.put(key, d);
  }
  return d;
}

var pages = doc.countPages();
for (var i = 0; i < pages; ++i) {
  var page = doc.findPage(i);
  var res = pageResources(page);
  subDictionary(res, "Font").put("Fstamp", font);
  subDictionary(res, "ExtGState").put("GSstamp", gstate);

  var contents = doc.newArray();
  contents.push(doc.addStream("q\n", doc.newDictionary()));
  var old = page.get("Contents");
  if (old.isArray()) {
    for (var k = 0; k < old.length; ++k) contents.push(old.get(k));
  } else if (!missing(old)) {
    contents.push(old);
  }
  contents.push(doc.addStream("\nQ\n", doc.newDictionary()));
  contents.push(doc.addStream(stampText, doc.newDictionary()));
  page.put("Contents", contents);
}
doc.save(scriptArgs[1], "");
