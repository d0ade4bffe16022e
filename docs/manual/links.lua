-- The chapters link to each other as Markdown files ("config.md#taxes"), so
-- that they read well where they are; the built pages link to the HTML files.
-- Every heading also gets an anchor of the old kind (<a name>) besides its id,
-- which the program's help window scrolls to.
function Link(el)
  el.target = el.target:gsub("^([%w%-]+)%.md$", "%1.html"):gsub("^([%w%-]+)%.md#", "%1.html#")
  return el
end

function Header(el)
  if el.identifier ~= "" then
    return {pandoc.RawBlock("html", '<a name="' .. el.identifier .. '"></a>'), el}
  end
  return el
end
