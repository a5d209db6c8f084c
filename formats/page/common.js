// What the pages of a front and of a run share: their data (the JSON in
// #page-data), the title, the design as text, numbers as the program's
// tables show them, and the tooltip.
const page = (function () {
  "use strict";
  const data = JSON.parse(document.getElementById("page-data").textContent);
  document.title = data.title;
  d3.select("#title").text(data.title);
  d3.select("pre.design-text").text(data.design);
  const tip = d3.select("body").append("div").attr("role", "tooltip");
  return {
    data,
    shown: (v) => (typeof v === "number" ? v.toFixed(4) : v === null ? "n/a" : String(v)),
    // The tooltip beside the pointer, holding text; hidden again by hide().
    show: (text, event) => tip.style("display", "block").text(text)
      .style("left", (event.pageX + 12) + "px").style("top", (event.pageY + 12) + "px"),
    hide: () => tip.style("display", "none"),
  };
})();
