// Wires the runtime module id used by the plug-in, require("premierepro"), to Adobe's
// published declarations (@adobe/premierepro). Nothing is added or changed here.
declare module "premierepro" {
  const ppro: import("@adobe/premierepro").premierepro;
  export = ppro;
}
