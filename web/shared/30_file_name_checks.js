// Names typed into the file dialogs, checked in the page by the program's own rules, so that a
// confirm button is only enabled for a name the program will take. Each check answers the
// catalogue key of its refusal, or "" for a name that passes.

var RESERVED_DEVICE_NAMES = ["con", "prn", "aux", "nul", "com1", "com2", "com3", "com4", "com5", "com6", "com7",
  "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"];
var FORBIDDEN_NAME_CHARACTERS = /[\u0000-\u001f\\/:<>"|?*]/;
var EXPLICIT_EXTENSION = /^[A-Za-z0-9]{1,16}$/;

// True when the name's last point starts an extension: not its first or last character, and
// followed by 1 to 16 ASCII letters or digits.
function hasExplicitExtension(name) {
  var dot = name.lastIndexOf(".");
  return dot > 0 && EXPLICIT_EXTENSION.test(name.slice(dot + 1));
}

function isReservedDeviceName(name) {
  return RESERVED_DEVICE_NAMES.indexOf(name.split(".")[0].toLowerCase()) >= 0;
}

// The tests every new name passes: not "." or "..", no point or space at the end, none of the
// characters Windows refuses.
function breaksNameRules(name) {
  return name === "." || name === ".." || /[. ]$/.test(name) || FORBIDDEN_NAME_CHARACTERS.test(name);
}

// Merge, normalise and trim outputs; a blank name is not sent and the program chooses one.
function checkOutputFilename(name) {
  if (name.trim() === "") return "";
  if (breaksNameRules(name) || name.charAt(0) === ".") return "export.output_filename_invalid";
  if (isReservedDeviceName(name)) return "errors.reserved_filename";
  if (hasExplicitExtension(name) && !/\.wav$/i.test(name)) return "errors.extension_invalid";
  return "";
}

// Outputs are WAV files: ".wav" in any case becomes lower case, a name without an extension gets it.
function completeOutputFilename(name) {
  if (name === "" || /[. ]$/.test(name)) return name;
  if (/\.wav$/i.test(name)) return name.slice(0, -4) + ".wav";
  return hasExplicitExtension(name) ? name : name + ".wav";
}

function checkFolderName(name) {
  if (name.trim() === "") return "move.create_folder_name_required";
  if (breaksNameRules(name)) return "errors.folder_name_invalid";
  if (isReservedDeviceName(name)) return "errors.reserved_folder_name";
  if (name.toLowerCase() === "_originals") return "errors.folder_name_invalid";
  return "";
}

// A file's extension from its last point ("" when it has none or only a leading point).
function fileExtension(name) {
  var dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(dot) : "";
}

// A rename keeps the clip's type: a new name without an extension of its own gets the old one.
function completeRenameName(currentName, newName) {
  var extension = fileExtension(currentName);
  if (!extension || newName === "" || breaksNameRules(newName)) return newName;
  if (newName.toLowerCase().endsWith(extension.toLowerCase()) || hasExplicitExtension(newName)) return newName;
  return newName + extension;
}

function fileStem(name) {
  var extension = fileExtension(name);
  var stem = extension ? name.slice(0, -extension.length) : name;
  return stem || "audio";
}
